// Service clients: send requests and receive the matching replies.
#ifndef RCLCPP__CLIENT_HPP_
#define RCLCPP__CLIENT_HPP_

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

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

namespace detail
{
/// A future together with the sequence number of its request.
template<typename FutureT>
struct FutureAndRequestId
{
  FutureT future;
  int64_t request_id;

  FutureAndRequestId(FutureT impl, int64_t req_id) : future(std::move(impl)), request_id(req_id) {}

  decltype(auto) get() {return future.get();}
  bool valid() const noexcept {return future.valid();}
  void wait() const {future.wait();}
  template<class Rep, class Period>
  std::future_status wait_for(const std::chrono::duration<Rep, Period> & timeout_duration) const
  {
    return future.wait_for(timeout_duration);
  }
  template<class Clock, class Duration>
  std::future_status wait_until(const std::chrono::time_point<Clock, Duration> & timeout_time) const
  {
    return future.wait_until(timeout_time);
  }
  operator FutureT &() {return this->future;}
};
}  // namespace detail

/// Type-erased part of a client: request writer and reply reader sharing one "clientid"; replies
/// addressed to other clients are dropped, replies are matched to requests by sequence number.
class ClientBase : public detail::Executable
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ClientBase)

  ClientBase(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
    const rosidl_service_type_support_t * type_support, const rmw_qos_profile_t & qos);
  ~ClientBase() override;

  const char * get_service_name() const;
  /// True when a server is matched in both directions (its request reader and reply writer).
  bool service_is_ready() const;

  /// Blocks until the service is ready, the timeout passes (negative: forever) or the context
  /// shuts down. Event driven: no polling.
  template<typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_service(
    std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1))
  {
    return wait_for_service_nanoseconds(
      std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  size_t condition_count() const override {return 1;}
  int32_t condition(size_t index) const override;
  void execute(size_t index) override;
  std::string describe() const override;

protected:
  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout);
  /// Reserves a sequence number, lets `register_pending` record the request under it, then
  /// writes. Throws rclcpp::exceptions::RCLError("failed to send request") on failure.
  int64_t send_request_type_erased(
    const void * request, const std::function<void(int64_t)> & register_pending);
  virtual std::shared_ptr<void> create_response() = 0;
  virtual void dispatch(int64_t sequence_number, std::shared_ptr<void> response) = 0;

  node_interfaces::NodeBase::SharedPtr node_;

private:
  std::string service_name_;
  std::unique_ptr<dds::Writer> request_writer_;
  std::unique_ptr<dds::Reader> reply_reader_;
  std::chrono::steady_clock::time_point last_decode_warning_{};
};

template<typename ServiceT>
class Client : public ClientBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Client)
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = std::shared_ptr<Request>;
  using SharedResponse = std::shared_ptr<Response>;
  using Promise = std::promise<SharedResponse>;
  using SharedPromise = std::shared_ptr<Promise>;
  using Future = std::future<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using CallbackType = std::function<void (SharedFuture)>;

  struct FutureAndRequestId : detail::FutureAndRequestId<Future>
  {
    using detail::FutureAndRequestId<Future>::FutureAndRequestId;
    SharedFuture share() noexcept {return this->future.share();}
  };
  struct SharedFutureAndRequestId : detail::FutureAndRequestId<SharedFuture>
  {
    using detail::FutureAndRequestId<SharedFuture>::FutureAndRequestId;
  };

  Client(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & service_name,
    const rmw_qos_profile_t & qos)
  : ClientBase(
      node, service_name,
      rosidl_typesupport_introspection_cpp::get_service_type_support_handle<ServiceT>(), qos)
  {}

  /// Sends the request; the future is fulfilled when the reply arrives (on an executor thread
  /// spinning this client's node). Thread-safe.
  FutureAndRequestId async_send_request(SharedRequest request)
  {
    auto promise = std::make_shared<Promise>();
    Future future = promise->get_future();
    const int64_t seq = send_request_type_erased(
      request.get(), [this, &promise](int64_t s) {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending_.emplace(s, Pending{promise, nullptr, {}});
      });
    return FutureAndRequestId(std::move(future), seq);
  }

  /// Sends the request; `callback(SharedFuture)` runs on an executor thread when the reply
  /// arrives. Thread-safe.
  template<typename CallbackT>
  SharedFutureAndRequestId async_send_request(SharedRequest request, CallbackT && callback)
  {
    auto promise = std::make_shared<Promise>();
    SharedFuture future = promise->get_future().share();
    CallbackType cb(std::forward<CallbackT>(callback));
    const int64_t seq = send_request_type_erased(
      request.get(), [this, &promise, &cb, &future](int64_t s) {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending_.emplace(s, Pending{promise, std::move(cb), future});
      });
    return SharedFutureAndRequestId(std::move(future), seq);
  }

  bool remove_pending_request(int64_t request_id)
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    return pending_.erase(request_id) != 0;
  }
  size_t prune_pending_requests()
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    const size_t n = pending_.size();
    pending_.clear();
    return n;
  }

protected:
  std::shared_ptr<void> create_response() override {return std::make_shared<Response>();}
  void dispatch(int64_t sequence_number, std::shared_ptr<void> response) override
  {
    Pending pending;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      auto it = pending_.find(sequence_number);
      if (it == pending_.end()) {
        return;  // an answer to a request nobody waits for any more
      }
      pending = std::move(it->second);
      pending_.erase(it);
    }
    pending.promise->set_value(std::static_pointer_cast<Response>(response));
    if (pending.callback) {
      pending.callback(pending.future);
    }
  }

private:
  struct Pending
  {
    SharedPromise promise;
    CallbackType callback;
    SharedFuture future;
  };
  std::mutex pending_mutex_;
  std::map<int64_t, Pending> pending_;
};

}  // namespace rclcpp

#endif  // RCLCPP__CLIENT_HPP_
