// The fleet page's model and its configuration: which arms, in which order, with which alarms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/fleet_config.hpp"
#include "fleet/fleet_model.hpp"

namespace quorvel_tools
{
namespace
{

using Json = nlohmann::json;

constexpr std::int64_t kNow = 1'700'000'000'000;  // ms

TEST(FleetConfig, DomainListsAndFleetFilesAreReadOrRefusedWithTheirPlace)
{
  EXPECT_EQ(parse_domain_list("7"), (std::vector<std::uint32_t>{7}));
  EXPECT_EQ(parse_domain_list("40-42,61"), (std::vector<std::uint32_t>{40, 41, 42, 61}));
  EXPECT_EQ(parse_domain_list("0-30").size(), 31u);
  for (const char * bad : {"", "x", "3-1", "1,1", "5-233", "1-", "-4", "1,,2"}) {
    EXPECT_THROW(parse_domain_list(bad), FleetConfigError) << bad;
  }
  const FleetConfig by_domain = fleet_from_domains({3, 9});
  ASSERT_EQ(by_domain.arms.size(), 2u);
  EXPECT_EQ(by_domain.arms[1].name, "domain 9");
  EXPECT_EQ(cyclone_domains_config(by_domain), "");

  const FleetConfig config = parse_fleet_yaml(
      "alarms: {wait_s: 90, silent_s: 20}\n"
      "arms:\n"
      "  - {name: cell-3-left, domain: 12, host: arm12.local, peers: [10.0.0.12], interface: "
      "eth1}\n"
      "  - name: cell-3-right\n"
      "    domain: 13\n",
      "FLEET.yaml");
  ASSERT_EQ(config.arms.size(), 2u);
  EXPECT_EQ(config.arms[0].host, "arm12.local");
  EXPECT_EQ(config.alarms.wait_s, 90.0);
  EXPECT_EQ(config.alarms.silent_s, 20.0);
  EXPECT_EQ(
      cyclone_domains_config(config),
      "<CycloneDDS><Domain id=\"12\"><General><Interfaces><NetworkInterface name=\"eth1\"/>"
      "</Interfaces></General><Discovery><Peers><Peer address=\"10.0.0.12\"/></Peers></Discovery>"
      "</Domain></CycloneDDS>");

  const auto refused = [](const std::string & text) {
    try {
      parse_fleet_yaml(text, "f.yaml");
    } catch (const FleetConfigError & error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(
      refused("arms:\n  - {name: a, domian: 3}\n"),
      "f.yaml:2:15: arms[0].domian: unknown key (allowed here: name, domain, host, peers, "
      "interface)");
  EXPECT_EQ(
      refused("arms:\n  - {name: a, domain: 3}\n  - {name: a, domain: 4}\n"),
      "f.yaml:3:12: arms[1].name: 'a' names an arm already");
  EXPECT_EQ(
      refused("arms:\n  - {name: a, domain: 3}\n  - {name: b, domain: 3}\n"),
      "f.yaml:3:23: arms[1].domain: domain 3 is another arm's already");
  EXPECT_EQ(
      refused("arms:\n  - {name: a, domain: 300}\n").rfind("f.yaml:2:23: arms[0].domain: ", 0), 0u);
  EXPECT_EQ(
      refused("arms:\n  - {name: a}\n"),
      "f.yaml:2:5: arms[0].domain: missing: every arm needs its ROS_DOMAIN_ID");
  EXPECT_EQ(
      refused("alarms: {wait_s: -1}\narms: [{name: a, domain: 1}]\n"),
      "f.yaml:1:18: alarms.wait_s: must be a number of seconds greater than 0");
  EXPECT_NE(
      refused("arms:\n  - {name: a, domain: 1, peers: [\"10.0.0.1\\\"/><x\"]}\n")
          .find("is not an address or an interface name"),
      std::string::npos);
  EXPECT_EQ(refused("arms: [\n").rfind("f.yaml:2:1: YAML syntax error", 0), 0u);
  EXPECT_EQ(refused("- 1\n"), "f.yaml: the file must be a mapping with the key 'arms'");
}

ArmState idle_arm(std::int64_t heard_ms)
{
  ArmState s;
  s.last_heard_ms = heard_ms;
  s.supervisor_up = true;
  return s;
}

std::vector<std::string> names_in_order(const Json & snapshot)
{
  std::vector<std::string> names;
  for (const Json & tile : snapshot["arms"]) {
    names.push_back(tile["name"].get<std::string>());
  }
  return names;
}

TEST(FleetModel, TilesComeInOrderOfUrgencyWithTheirAlarms)
{
  FleetConfig config = fleet_from_domains({1, 2, 3, 4, 5, 6, 7});
  const std::vector<std::string> names{
      "idle", "working", "abnormal", "stuck", "silent", "never", "gone"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    config.arms[i].name = names[i];
  }
  config.alarms.wait_s = 60.0;
  config.alarms.silent_s = 30.0;
  FleetModel model(config);

  model.update(0, idle_arm(kNow - 1000), kNow);
  ArmState working = idle_arm(kNow - 500);
  working.task_known = working.running = true;
  working.phase = "moving to grab pose";
  working.last_event_ms = kNow - 2000;
  model.update(1, working, kNow);
  ArmState abnormal = working;
  abnormal.abnormal = true;
  model.update(2, abnormal, kNow);
  ArmState stuck = working;
  stuck.last_event_ms = kNow - 90'000;  // no step for 90 s
  model.update(3, stuck, kNow);
  model.update(4, idle_arm(kNow - 45'000), kNow);  // silent
  ArmState gone = working;
  gone.server_gone = true;
  model.update(6, gone, kNow);

  const Json snapshot = model.snapshot(kNow);
  // Alarms first (by name), then warnings, then working arms, idle ones, and those never heard.
  EXPECT_EQ(
      names_in_order(snapshot),
      (std::vector<std::string>{
          "abnormal", "gone", "stuck", "silent", "working", "idle", "never"}));
  const Json & stuck_tile = snapshot["arms"][2];
  EXPECT_EQ(stuck_tile["urgency"], "alarm");
  EXPECT_EQ(stuck_tile["alarms"][0], "no step for 90 s");
  EXPECT_EQ(snapshot["arms"][1]["alarms"][0], "the server of the call it waits for is gone");
  EXPECT_EQ(snapshot["arms"][3]["warnings"][0], "not heard from for 45 s");
  EXPECT_FALSE(snapshot["arms"][3]["live"]);
  EXPECT_TRUE(snapshot["arms"][4]["live"]);
  EXPECT_EQ(snapshot["arms"][6]["urgency"], "unknown");
  EXPECT_EQ(snapshot["fleet"]["alarms"], 3);
  EXPECT_EQ(snapshot["fleet"]["live"], 5);
}

TEST(FleetModel, EachEndedTaskCountsOnceForAnHourAndARestartedArmStartsAfresh)
{
  FleetModel model(fleet_from_domains({1}));
  ArmState s = idle_arm(kNow);
  s.task_known = true;
  s.goal_id = "aa";
  s.outcome = "succeeded";
  s.error_code = 102300003;
  s.ended_ms = kNow - 10 * 60 * 1000;  // ten minutes ago
  model.update(0, s, kNow);
  model.update(0, s, kNow + 1000);  // the same end seen again
  Json tile = model.snapshot(kNow + 1000)["arms"][0];
  EXPECT_EQ(tile["hour"]["tasks"], 1);
  EXPECT_EQ(tile["hour"]["results"]["102300003"], 1);
  EXPECT_EQ(tile["hour"]["activity"].size(), 12u);
  EXPECT_EQ(tile["hour"]["activity"][9], 1);  // 10 minutes ago: the third bucket from the end
  EXPECT_EQ(tile["last_result"]["meaning"], "recovery succeeded");

  // A failed task raises an alarm until the next one; one lost with a restart says so.
  s.goal_id = "bb";
  s.error_code = 102300005;
  s.ended_ms = kNow + 2000;
  model.update(0, s, kNow + 2000);
  tile = model.snapshot(kNow + 2000)["arms"][0];
  EXPECT_EQ(tile["urgency"], "alarm");
  EXPECT_EQ(tile["alarms"][0], "last task failed: 102300005");
  s.goal_id = "cc";
  s.lost_with_restart = true;
  s.ended_ms = kNow + 3000;
  model.update(0, s, kNow + 3000);
  const Json snapshot = model.snapshot(kNow + 3000);
  EXPECT_EQ(snapshot["arms"][0]["alarms"][0], "last task lost with its supervisor's restart");
  EXPECT_EQ(snapshot["fleet"]["hour"]["tasks"], 3);
  EXPECT_EQ(snapshot["fleet"]["hour"]["results"]["lost"], 1);
  EXPECT_EQ(snapshot["fleet"]["hour"]["recoveries"], 2);

  // An hour later the counts have gone; a new goal of a restarted supervisor counts anew.
  s.goal_id = "dd";
  s.lost_with_restart = false;
  s.error_code = 102300000;
  s.ended_ms = kNow + 3700 * 1000;
  model.update(0, s, kNow + 3700 * 1000);
  tile = model.snapshot(kNow + 3700 * 1000)["arms"][0];
  EXPECT_EQ(tile["hour"]["tasks"], 1);
  EXPECT_EQ(tile["urgency"], "warning");  // not heard from since kNow
}

TEST(FleetModel, AnArmStateIsReadFromItsDashboardSnapshot)
{
  Json snapshot = {
      {"task",
       {{"known", true},
        {"running", true},
        {"goal_id", "ab12"},
        {"phase", "detecting"},
        {"step_count", 4},
        {"started_ms", kNow - 9000},
        {"last_event_ms", kNow - 100},
        {"picked", 2},
        {"given_up", 1},
        {"outcome", ""},
        {"error_code", 0},
        {"ended_ms", nullptr},
        {"server_gone", {{"service", "arm_grab"}, {"since_ms", kNow - 50}}},
        {"supervisor_gone", nullptr}}},
      {"arm",
       {{"abnormal", false},
        {"abnormal_ms", kNow - 20'000},
        {"joints", {{"received_ms", kNow - 40}}}}},
      {"workspace", {{"env_stop", {{"held", true}}}}},
  };
  Json action_server = {
      {"name", "/quorvel_action/arm_task"}, {"kind", "action server"}, {"up", true}};
  snapshot["endpoints"] = {{"items", Json::array({action_server})}};
  const ArmState s = arm_state_from_snapshot(snapshot);
  EXPECT_TRUE(s.running);
  EXPECT_EQ(s.phase, "detecting");
  EXPECT_EQ(s.picked, 2);
  EXPECT_TRUE(s.server_gone);
  EXPECT_FALSE(s.supervisor_gone);
  EXPECT_EQ(s.abnormal, std::optional<bool>(false));
  EXPECT_TRUE(s.env_stop);
  EXPECT_TRUE(s.supervisor_up);
  EXPECT_EQ(s.last_heard_ms, std::optional<std::int64_t>(kNow - 40));
  EXPECT_FALSE(s.ended_ms);
  // Nothing heard at all: no time.
  EXPECT_FALSE(arm_state_from_snapshot(Json::object()).last_heard_ms);
}

}  // namespace
}  // namespace quorvel_tools
