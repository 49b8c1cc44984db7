// Services: answer requests of a ROS service.
#ifndef RCLCPP__SERVICE_HPP_
#define RCLCPP__SERVICE_HPP_

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/detail/executable.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"
#include "rmw/types.h"
#include "rosidl_typesupport_introspection_cpp/service_type_support_decl.hpp"

struct rosidl_service_type_support_t;

namespace rclcpp
{
namespace dds
{
class Reader;
class Writer;
}

/// Type-erased part of a service: request reader and reply writer sharing one "serviceid".
class ServiceBase : public detail::Executable
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ServiceBase)

  ServiceBase(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
    const rosidl_service_type_support_t * type_support, const rmw_qos_profile_t & qos);
  ~ServiceBase() override;

  const char * get_service_name();

  size_t condition_count() const override {return 1;}
  int32_t condition(size_t index) const override;
  void execute(size_t index) override;
  std::string describe() const override;

protected:
  virtual std::shared_ptr<void> create_request() = 0;
  virtual void dispatch(
    const std::shared_ptr<rmw_request_id_t> & request_id, std::shared_ptr<void> request) = 0;
  /// Writes a reply to the client that sent `request_id`. If that client's reply reader is not
  /// matched yet, waits for the match (at most 100 ms) instead of losing the reply. Returns
  /// false, with a warning, when the reply could not be sent.
  bool send_response_type_erased(const rmw_request_id_t & request_id, const void * response);

private:
  node_interfaces::NodeBase::SharedPtr node_;
  std::string service_name_;
  std::unique_ptr<dds::Reader> request_reader_;
  std::unique_ptr<dds::Writer> reply_writer_;
  std::chrono::steady_clock::time_point last_decode_warning_{};
  /// Request writers whose client's reply reader was seen matched; replies to them skip the
  /// match check (bounded: cleared when it grows large).
  std::mutex confirmed_mutex_;
  std::unordered_set<uint64_t> confirmed_request_writers_;
};

template<typename ServiceT>
class Service : public ServiceBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Service)
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;

  template<typename CallbackT>
  Service(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
    CallbackT && callback, const rmw_qos_profile_t & qos)
  : ServiceBase(
      node, service_name,
      rosidl_typesupport_introspection_cpp::get_service_type_support_handle<ServiceT>(), qos)
  {
    using C = std::decay_t<CallbackT>;
    using ReqId = std::shared_ptr<rmw_request_id_t>;
    using Req = std::shared_ptr<Request>;
    using Resp = std::shared_ptr<Response>;
    if constexpr (std::is_invocable_v<C, Req, Resp>) {
      callback_ = [this, cb = std::forward<CallbackT>(callback)](ReqId id, Req req) mutable {
          auto resp = std::make_shared<Response>();
          cb(std::move(req), resp);
          send_response(*id, *resp);
        };
    } else if constexpr (std::is_invocable_v<C, ReqId, Req, Resp>) {
      callback_ = [this, cb = std::forward<CallbackT>(callback)](ReqId id, Req req) mutable {
          auto resp = std::make_shared<Response>();
          cb(id, std::move(req), resp);
          send_response(*id, *resp);
        };
    } else if constexpr (std::is_invocable_v<C, ReqId, Req>) {
      // Deferred: the callback answers later with send_response.
      callback_ = [cb = std::forward<CallbackT>(callback)](ReqId id, Req req) mutable {
          cb(std::move(id), std::move(req));
        };
    } else {
      static_assert(
        std::is_invocable_v<C, Req, Resp>,
        "service callback must take (shared_ptr<Request>, shared_ptr<Response>), "
        "(shared_ptr<rmw_request_id_t>, shared_ptr<Request>, shared_ptr<Response>) or "
        "(shared_ptr<rmw_request_id_t>, shared_ptr<Request>)");
    }
  }

  /// Answers a request; may be called from any thread (deferred answers). A reply that cannot be
  /// sent is logged as a warning and dropped, as rclcpp does when its send times out. The
  /// request id is taken by non-const reference, as in rclcpp.
  void send_response(rmw_request_id_t & request_id, Response & response)
  {
    send_response_type_erased(request_id, &response);
  }

protected:
  std::shared_ptr<void> create_request() override {return std::make_shared<Request>();}
  void dispatch(
    const std::shared_ptr<rmw_request_id_t> & request_id, std::shared_ptr<void> request) override
  {
    callback_(request_id, std::static_pointer_cast<Request>(request));
  }

private:
  std::function<void (std::shared_ptr<rmw_request_id_t>, std::shared_ptr<Request>)> callback_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SERVICE_HPP_
