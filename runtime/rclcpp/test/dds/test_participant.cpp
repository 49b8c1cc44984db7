// Participant lifetime: who owns the Cyclone domain, and what the participant announces.
#include <gtest/gtest.h>

#include <string>

#include "dds/dds.h"

#include "dds/qos.hpp"
#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;

/// True if no domain with this id exists in the process (creating one then succeeds).
bool domain_is_free(uint32_t id)
{
  const dds_entity_t probe = dds_create_domain(id, loopback_domain(id).cyclone_config.c_str());
  if (probe > 0) {
    dds_delete(probe);
    return true;
  }
  return false;
}

TEST(Participant, DomainLivesExactlyAsLongAsItsParticipants)
{
  auto first = Participant::create(loopback_domain(128));
  {
    auto second = Participant::create(loopback_domain(128));
    EXPECT_NE(first->gid(), second->gid());
  }
  // The remaining participant still works after its sibling is gone.
  EXPECT_FALSE(domain_is_free(128));
  EXPECT_FALSE(first->next_endpoint_id().empty());
  first.reset();
  EXPECT_TRUE(domain_is_free(128)) << "the last participant must take the domain with it";
}

TEST(Participant, ADomainCreatedByOthersIsUsedButNotDeleted)
{
  const dds_entity_t foreign = dds_create_domain(129, loopback_domain(129).cyclone_config.c_str());
  ASSERT_GT(foreign, 0);
  {
    auto ours = Participant::create(loopback_domain(129));
    // Participants announce the default enclave, as every ROS 2 participant does.
    QosPtr qos(dds_create_qos());
    ASSERT_EQ(dds_get_qos(ours->handle(), qos.get()), DDS_RETCODE_OK);
    void * data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(dds_qget_userdata(qos.get(), &data, &size));
    EXPECT_EQ(std::string(static_cast<const char *>(data), size), "enclave=/;");
    dds_free(data);
  }
  EXPECT_FALSE(domain_is_free(129)) << "a domain we did not create must outlive our participant";
  dds_delete(foreign);
}

}  // namespace
