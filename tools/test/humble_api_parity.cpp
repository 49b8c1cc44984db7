// Compile-time check that the rclcpp and rclcpp_action API this workspace calls has ROS 2
// Humble's exact shape: the same return types, parameter types (const-ness included) and
// default arguments. The file is compiled against the bundled runtime by every test build and
// against a real Humble by scripts/humble-check, so a signature that only one of the two accepts
// fails one of the builds here, at one line that names it, instead of breaking a robot build.
//
// Three kinds of entries:
//   SAME_MEMBER   the member function exists with exactly this signature (taking its address
//                 through a cast picks exactly one overload, or fails to compile);
//   CALLS         a call as our code writes it compiles and yields this type;
//   NOT_CALLABLE  a call that one runtime once accepted and Humble refuses.
// Nothing here runs.

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/domain_id.h"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp/serialization.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "std_msgs/msg/bool.hpp"

namespace
{

using quorvel_interfaces::action::ArmTask;
using quorvel_interfaces::srv::ArmGrab;
using quorvel_interfaces::srv::DetectTrash;
using Bool = std_msgs::msg::Bool;

template<typename T>
T & ref();

template<typename T>
const T & cref();

#define SAME_MEMBER(Class, member, ...) \
  static_assert( \
    std::is_same_v< \
      decltype(static_cast<__VA_ARGS__>(&Class::member)), __VA_ARGS__>, \
    #Class "::" #member)

#define CALLS(Type, ...) \
  static_assert(std::is_same_v<decltype(__VA_ARGS__), Type>, #__VA_ARGS__)

template<typename, typename = void>
struct send_response_with_const_id : std::false_type {};
template<typename ServiceT>
struct send_response_with_const_id<
  ServiceT, std::void_t<decltype(ref<rclcpp::Service<ServiceT>>().send_response(
    cref<rmw_request_id_t>(), ref<typename ServiceT::Response>()))>>: std::true_type {};

// --- process: init, shutdown, spin ----------------------------------------------------------
[[maybe_unused]] void process()
{
  const char * const * argv = nullptr;
  CALLS(void, rclcpp::init(0, argv));
  CALLS(void, rclcpp::init(0, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None));
  CALLS(bool, rclcpp::shutdown());
  CALLS(bool, rclcpp::ok());
  CALLS(std::vector<std::string>, rclcpp::remove_ros_arguments(0, argv));
  CALLS(std::vector<std::string>, rclcpp::init_and_remove_ros_arguments(0, argv));
  CALLS(void, rclcpp::spin(std::shared_ptr<rclcpp::Node>()));
  // A context per DDS domain (quorvel fleet): the domain in its init options, nodes made in it.
  SAME_MEMBER(rclcpp::InitOptions, set_domain_id, void (rclcpp::InitOptions::*)(size_t));
  SAME_MEMBER(rclcpp::InitOptions, get_domain_id, size_t (rclcpp::InitOptions::*)() const);
  SAME_MEMBER(rclcpp::InitOptions, use_default_domain_id, void (rclcpp::InitOptions::*)());
  static_assert(RCL_DEFAULT_DOMAIN_ID == SIZE_MAX, "Humble's default domain id");
  CALLS(void, ref<rclcpp::Context>().init(0, argv, cref<rclcpp::InitOptions>()));
  CALLS(bool, ref<rclcpp::Context>().shutdown("reason"));
  CALLS(
    rclcpp::NodeOptions &,
    ref<rclcpp::NodeOptions>().context(std::shared_ptr<rclcpp::Context>()));
  CALLS(rclcpp::Context::SharedPtr, rclcpp::ExecutorOptions().context);
}

// --- executors ------------------------------------------------------------------------------
[[maybe_unused]] void executors()
{
  using MultiThreaded = rclcpp::executors::MultiThreadedExecutor;
  static_assert(
    std::is_constructible_v<
      MultiThreaded, const rclcpp::ExecutorOptions &, size_t, bool, std::chrono::nanoseconds>);
  static_assert(std::is_constructible_v<MultiThreaded, rclcpp::ExecutorOptions, int, bool>);
  static_assert(std::is_default_constructible_v<rclcpp::executors::SingleThreadedExecutor>);
  SAME_MEMBER(rclcpp::Executor, add_node, void (rclcpp::Executor::*)(std::shared_ptr<rclcpp::Node>, bool));
  SAME_MEMBER(rclcpp::Executor, remove_node, void (rclcpp::Executor::*)(std::shared_ptr<rclcpp::Node>, bool));
  SAME_MEMBER(rclcpp::Executor, spin_once, void (rclcpp::Executor::*)(std::chrono::nanoseconds));
  SAME_MEMBER(rclcpp::Executor, spin_some, void (rclcpp::Executor::*)(std::chrono::nanoseconds));
  SAME_MEMBER(MultiThreaded, spin, void (MultiThreaded::*)());
  auto & executor = ref<rclcpp::executors::SingleThreadedExecutor>();
  CALLS(void, executor.add_node(std::shared_ptr<rclcpp::Node>()));
  CALLS(void, executor.remove_node(std::shared_ptr<rclcpp::Node>()));
  CALLS(void, executor.spin_some());
  CALLS(void, executor.spin_some(std::chrono::milliseconds(100)));
  CALLS(void, executor.spin_once());
  CALLS(void, executor.spin_once(std::chrono::milliseconds(100)));
  CALLS(void, executor.spin());
  CALLS(void, executor.cancel());
}

// --- time -----------------------------------------------------------------------------------
[[maybe_unused]] void time()
{
  auto & node = ref<rclcpp::Node>();
  CALLS(rclcpp::Time, node.get_clock()->now());
  CALLS(rcl_time_point_value_t, node.get_clock()->now().nanoseconds());
  CALLS(double, node.now().seconds());
  static_assert(std::is_convertible_v<rclcpp::Time, builtin_interfaces::msg::Time>);
  static_assert(std::is_same_v<rcl_time_point_value_t, int64_t>);
}

// --- the node: names, options, entities -----------------------------------------------------
[[maybe_unused]] void node()
{
  static_assert(std::is_constructible_v<rclcpp::Node, const std::string &>);
  static_assert(std::is_constructible_v<rclcpp::Node, const std::string &, const rclcpp::NodeOptions &>);
  static_assert(
    std::is_constructible_v<
      rclcpp::Node, const std::string &, const std::string &, const rclcpp::NodeOptions &>);
  SAME_MEMBER(rclcpp::Node, get_name, const char * (rclcpp::Node::*)() const);
  SAME_MEMBER(rclcpp::Node, get_namespace, const char * (rclcpp::Node::*)() const);
  SAME_MEMBER(rclcpp::Node, get_fully_qualified_name, const char * (rclcpp::Node::*)() const);
  SAME_MEMBER(rclcpp::Node, get_logger, rclcpp::Logger (rclcpp::Node::*)() const);
  SAME_MEMBER(rclcpp::Node, get_clock, rclcpp::Clock::SharedPtr (rclcpp::Node::*)());
  SAME_MEMBER(rclcpp::Node, now, rclcpp::Time (rclcpp::Node::*)() const);
  SAME_MEMBER(
    rclcpp::Node, create_callback_group,
    rclcpp::CallbackGroup::SharedPtr (rclcpp::Node::*)(rclcpp::CallbackGroupType, bool));

  rclcpp::NodeOptions options;
  CALLS(rclcpp::NodeOptions &, options.automatically_declare_parameters_from_overrides(true));
  CALLS(bool, cref<rclcpp::NodeOptions>().automatically_declare_parameters_from_overrides());
  CALLS(
    rclcpp::NodeOptions &, options.parameter_overrides(std::vector<rclcpp::Parameter>{}));
  CALLS(const std::vector<rclcpp::Parameter> &, cref<rclcpp::NodeOptions>().parameter_overrides());

  auto & node = ref<rclcpp::Node>();
  CALLS(
    rclcpp::CallbackGroup::SharedPtr,
    node.create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive));
  CALLS(
    rclcpp::CallbackGroup::SharedPtr,
    node.create_callback_group(rclcpp::CallbackGroupType::Reentrant, false));

  CALLS(rclcpp::Publisher<Bool>::SharedPtr, node.create_publisher<Bool>("t", 1));
  CALLS(rclcpp::Publisher<Bool>::SharedPtr, node.create_publisher<Bool>("t", rclcpp::QoS(10)));
  CALLS(
    rclcpp::Publisher<Bool>::SharedPtr,
    node.create_publisher<Bool>("t", rclcpp::QoS(10), rclcpp::PublisherOptions()));

  auto on_message = [](std::shared_ptr<const Bool>) {};
  CALLS(
    rclcpp::Subscription<Bool>::SharedPtr,
    node.create_subscription<Bool>("t", 1, on_message));
  rclcpp::SubscriptionOptions subscription_options;
  subscription_options.callback_group = rclcpp::CallbackGroup::SharedPtr();
  CALLS(
    rclcpp::Subscription<Bool>::SharedPtr,
    node.create_subscription<Bool>("t", rclcpp::QoS(1), on_message, subscription_options));
  auto on_mutable_message = [](const Bool::SharedPtr) {};
  CALLS(
    rclcpp::Subscription<Bool>::SharedPtr,
    node.create_subscription<Bool>("t", 1, on_mutable_message));

  CALLS(rclcpp::Client<DetectTrash>::SharedPtr, node.create_client<DetectTrash>("s"));
  CALLS(
    rclcpp::Client<DetectTrash>::SharedPtr,
    node.create_client<DetectTrash>("s", rmw_qos_profile_services_default, nullptr));

  using RequestId = std::shared_ptr<rmw_request_id_t>;
  auto answer_at_once = [](std::shared_ptr<ArmGrab::Request>, std::shared_ptr<ArmGrab::Response>) {};
  auto answer_later = [](RequestId, std::shared_ptr<ArmGrab::Request>) {};
  CALLS(rclcpp::Service<ArmGrab>::SharedPtr, node.create_service<ArmGrab>("s", answer_at_once));
  CALLS(
    rclcpp::Service<ArmGrab>::SharedPtr,
    node.create_service<ArmGrab>("s", answer_later, rmw_qos_profile_services_default, nullptr));

  std::shared_ptr<rclcpp::TimerBase> timer =
    node.create_wall_timer(std::chrono::milliseconds(100), [] {});
  timer = node.create_wall_timer(std::chrono::milliseconds(100), [] {}, nullptr);
  static_cast<void>(timer);
}

// --- parameters as the programs read them ---------------------------------------------------
[[maybe_unused]] void parameters()
{
  auto & node = ref<rclcpp::Node>();
  CALLS(std::string, node.declare_parameter<std::string>("p", std::string()));
  CALLS(double, node.declare_parameter<double>("p", 1.0));
  CALLS(int64_t, node.declare_parameter<int64_t>("p", 1));
  int64_t integer = 0;
  double number = 0.0;
  std::string text;
  CALLS(bool, cref<rclcpp::Node>().get_parameter("p", integer));
  CALLS(bool, cref<rclcpp::Node>().get_parameter("p", number));
  CALLS(bool, cref<rclcpp::Node>().get_parameter("p", text));
  CALLS(bool, cref<rclcpp::Node>().get_parameter_or("p", number, 1.0));
  CALLS(rclcpp::Parameter, cref<rclcpp::Node>().get_parameter("p"));
  CALLS(bool, cref<rclcpp::Node>().has_parameter("p"));
  SAME_MEMBER(
    rclcpp::Node, set_parameter,
    rcl_interfaces::msg::SetParametersResult (rclcpp::Node::*)(const rclcpp::Parameter &));
  SAME_MEMBER(
    rclcpp::Node, set_parameters_atomically,
    rcl_interfaces::msg::SetParametersResult (rclcpp::Node::*)(
      const std::vector<rclcpp::Parameter> &));
  SAME_MEMBER(
    rclcpp::Node, describe_parameter,
    rcl_interfaces::msg::ParameterDescriptor (rclcpp::Node::*)(const std::string &) const);
  SAME_MEMBER(
    rclcpp::Node, list_parameters,
    rcl_interfaces::msg::ListParametersResult (rclcpp::Node::*)(
      const std::vector<std::string> &, uint64_t) const);
  SAME_MEMBER(rclcpp::Node, undeclare_parameter, void (rclcpp::Node::*)(const std::string &));
  CALLS(
    const rclcpp::ParameterValue &,
    node.declare_parameter("p", rclcpp::ParameterValue(1.0)));
  CALLS(
    const rclcpp::ParameterValue &,
    node.declare_parameter(
      "p", rclcpp::ParameterValue(1.0), rcl_interfaces::msg::ParameterDescriptor(), true));
  CALLS(
    const rclcpp::ParameterValue &,
    node.declare_parameter("p", rclcpp::ParameterType::PARAMETER_DOUBLE));
  CALLS(double, node.declare_parameter<double>("p", 1.0, rcl_interfaces::msg::ParameterDescriptor()));
  rclcpp::NodeOptions options;
  CALLS(rclcpp::NodeOptions &, options.start_parameter_services(false));
  CALLS(rclcpp::NodeOptions &, options.start_parameter_event_publisher(false));
  CALLS(rclcpp::NodeOptions &, options.enable_rosout(false));
  CALLS(rclcpp::NodeOptions &, options.allow_undeclared_parameters(true));
  static_assert(
    std::is_constructible_v<
      rclcpp::exceptions::InvalidParameterTypeException, const std::string &, const std::string &>);
  static_assert(std::is_constructible_v<rclcpp::Parameter, std::string, int64_t>);
  static_assert(std::is_constructible_v<rclcpp::Parameter, std::string, double>);
  static_assert(std::is_constructible_v<rclcpp::Parameter, std::string, std::string>);
  static_assert(std::is_constructible_v<rclcpp::Parameter, std::string, bool>);
}

// --- QoS ------------------------------------------------------------------------------------
[[maybe_unused]] void qos()
{
  static_assert(std::is_convertible_v<int, rclcpp::QoS>, "QoS from a depth is implicit");
  static_assert(std::is_constructible_v<rclcpp::QoS, rclcpp::KeepLast>);
  static_assert(std::is_constructible_v<rclcpp::KeepLast, size_t>);
  auto & qos = ref<rclcpp::QoS>();
  CALLS(rclcpp::QoS &, qos.reliable());
  CALLS(rclcpp::QoS &, qos.best_effort());
  CALLS(rclcpp::QoS &, qos.transient_local());
  CALLS(rclcpp::QoS &, qos.durability_volatile());
  CALLS(rclcpp::QoS &, qos.keep_last(1));
  CALLS(rclcpp::QoS &, rclcpp::QoS(1).reliable().transient_local());
}

// --- publishers and subscriptions -----------------------------------------------------------
[[maybe_unused]] void topics()
{
  auto & publisher = ref<rclcpp::Publisher<Bool>>();
  CALLS(void, publisher.publish(cref<Bool>()));
  CALLS(void, publisher.publish(std::make_unique<Bool>()));
  CALLS(size_t, cref<rclcpp::Publisher<Bool>>().get_subscription_count());
  CALLS(bool, cref<rclcpp::Publisher<Bool>>().wait_for_all_acked(std::chrono::seconds(1)));
  CALLS(const char *, cref<rclcpp::Publisher<Bool>>().get_topic_name());
  CALLS(size_t, cref<rclcpp::Subscription<Bool>>().get_publisher_count());
  CALLS(const char *, cref<rclcpp::Subscription<Bool>>().get_topic_name());
}

// --- serialized messages and the graph, as the recorder and the bag reader use them ------------
[[maybe_unused]] void serialized()
{
  using rclcpp::SerializedMessage;
  static_assert(std::is_constructible_v<SerializedMessage, size_t>);
  static_assert(!std::is_convertible_v<size_t, SerializedMessage>, "the capacity constructor is explicit");
  static_assert(std::is_copy_constructible_v<SerializedMessage>);
  SAME_MEMBER(
    SerializedMessage, get_rcl_serialized_message,
    rcl_serialized_message_t & (SerializedMessage::*)());
  SAME_MEMBER(
    SerializedMessage, get_rcl_serialized_message,
    const rcl_serialized_message_t & (SerializedMessage::*)() const);
  SAME_MEMBER(SerializedMessage, size, size_t (SerializedMessage::*)() const);
  SAME_MEMBER(SerializedMessage, capacity, size_t (SerializedMessage::*)() const);
  SAME_MEMBER(SerializedMessage, reserve, void (SerializedMessage::*)(size_t));

  static_assert(std::is_base_of_v<rclcpp::SerializationBase, rclcpp::Serialization<Bool>>);
  SAME_MEMBER(
    rclcpp::SerializationBase, serialize_message,
    void (rclcpp::SerializationBase::*)(const void *, SerializedMessage *) const);
  SAME_MEMBER(
    rclcpp::SerializationBase, deserialize_message,
    void (rclcpp::SerializationBase::*)(const SerializedMessage *, void *) const);
  const rclcpp::Serialization<Bool> serialization;
  Bool message;
  SerializedMessage serialized;
  CALLS(void, serialization.serialize_message(&message, &serialized));
  CALLS(void, serialization.deserialize_message(&serialized, &message));

  auto & node = ref<rclcpp::Node>();
  auto on_serialized = [](std::shared_ptr<SerializedMessage>) {};
  CALLS(
    std::shared_ptr<rclcpp::GenericSubscription>,
    node.create_generic_subscription("t", "std_msgs/msg/Bool", rclcpp::QoS(10), on_serialized));
  SAME_MEMBER(
    rclcpp::Node, get_publishers_info_by_topic,
    std::vector<rclcpp::TopicEndpointInfo> (rclcpp::Node::*)(const std::string &, bool) const);
  CALLS(std::vector<rclcpp::TopicEndpointInfo>, cref<rclcpp::Node>().get_publishers_info_by_topic("t"));
  SAME_MEMBER(
    rclcpp::Node, get_subscriptions_info_by_topic,
    std::vector<rclcpp::TopicEndpointInfo> (rclcpp::Node::*)(const std::string &, bool) const);
  CALLS(
    std::vector<rclcpp::TopicEndpointInfo>,
    cref<rclcpp::Node>().get_subscriptions_info_by_topic("rq/sRequest", true));
  using Info = rclcpp::TopicEndpointInfo;
  SAME_MEMBER(Info, topic_type, const std::string & (Info::*)() const);
  SAME_MEMBER(Info, node_name, const std::string & (Info::*)() const);
  SAME_MEMBER(
    Info, endpoint_gid, const std::array<uint8_t, RMW_GID_STORAGE_SIZE> & (Info::*)() const);
  SAME_MEMBER(Info, qos_profile, const rclcpp::QoS & (Info::*)() const);
  SAME_MEMBER(Info, qos_profile, rclcpp::QoS & (Info::*)());
  SAME_MEMBER(rclcpp::QoS, get_rmw_qos_profile, const rmw_qos_profile_t & (rclcpp::QoS::*)() const);
  SAME_MEMBER(rclcpp::QoS, get_rmw_qos_profile, rmw_qos_profile_t & (rclcpp::QoS::*)());
}

// --- services and clients -------------------------------------------------------------------
[[maybe_unused]] void services()
{
  using Service = rclcpp::Service<ArmGrab>;
  SAME_MEMBER(
    Service, send_response, void (Service::*)(rmw_request_id_t &, ArmGrab::Response &));
  static_assert(
    !send_response_with_const_id<ArmGrab>::value,
    "send_response takes a non-const request id in Humble");
  SAME_MEMBER(rclcpp::ServiceBase, get_service_name, const char * (rclcpp::ServiceBase::*)());

  using Client = rclcpp::Client<DetectTrash>;
  auto & client = ref<Client>();
  auto request = std::make_shared<DetectTrash::Request>();
  auto on_response = [](Client::SharedFuture) {};
  CALLS(Client::SharedFutureAndRequestId, client.async_send_request(request, on_response));
  CALLS(Client::FutureAndRequestId, client.async_send_request(request));
  CALLS(bool, client.wait_for_service(std::chrono::seconds(1)));
  CALLS(bool, client.wait_for_service());
  CALLS(bool, cref<Client>().service_is_ready());
  SAME_MEMBER(rclcpp::ClientBase, get_service_name, const char * (rclcpp::ClientBase::*)() const);
  static_assert(std::is_same_v<Client::SharedFuture, std::shared_future<DetectTrash::Response::SharedPtr>>);
  static_assert(std::is_base_of_v<rclcpp::ClientBase, Client>);
  CALLS(bool, ref<rclcpp::ClientBase>().wait_for_service(std::chrono::seconds(1)));
  CALLS(bool, cref<rclcpp::ClientBase>().service_is_ready());
  CALLS(
    std::shared_future<DetectTrash::Response::SharedPtr>,
    client.async_send_request(request, on_response).future);
}

// --- logging --------------------------------------------------------------------------------
[[maybe_unused]] void logging()
{
  auto & node = ref<rclcpp::Node>();
  RCLCPP_INFO(node.get_logger(), "text %s", "value");
  RCLCPP_WARN(node.get_logger(), "text %d", 1);
  RCLCPP_ERROR(node.get_logger(), "text");
  RCLCPP_INFO_THROTTLE(node.get_logger(), *node.get_clock(), 1000, "text %s", "value");
  CALLS(rclcpp::Logger, rclcpp::get_logger("name"));
  CALLS(const char *, cref<rclcpp::Logger>().get_name());
  SAME_MEMBER(rclcpp::Logger, get_child, rclcpp::Logger (rclcpp::Logger::*)(const std::string &));
  SAME_MEMBER(rclcpp::Logger, get_name, const char * (rclcpp::Logger::*)() const);
}

// --- the action server ----------------------------------------------------------------------
class ServerNode : public rclcpp::Node
{
public:
  using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
  ServerNode()
  : rclcpp::Node("n")
  {
    using std::placeholders::_1;
    using std::placeholders::_2;
    server_ = rclcpp_action::create_server<ArmTask>(
      this, "a", std::bind(&ServerNode::handle_goal, this, _1, _2),
      std::bind(&ServerNode::handle_cancel, this, _1),
      std::bind(&ServerNode::handle_accepted, this, _1));
  }
  rclcpp_action::GoalResponse handle_goal(
    const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal>)
  {
    return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
  }
  rclcpp_action::CancelResponse handle_cancel(std::shared_ptr<GoalHandle>)
  {
    return rclcpp_action::CancelResponse::ACCEPT;
  }
  void handle_accepted(std::shared_ptr<GoalHandle>) {}
  rclcpp_action::Server<ArmTask>::SharedPtr server_;
};

[[maybe_unused]] void action_server()
{
  using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
  static_assert(std::is_same_v<rclcpp_action::GoalUUID, std::array<uint8_t, 16>>);
  static_assert(rclcpp_action::GoalResponse::REJECT != rclcpp_action::GoalResponse::ACCEPT_AND_DEFER);
  static_assert(rclcpp_action::CancelResponse::REJECT != rclcpp_action::CancelResponse::ACCEPT);
  auto node = std::make_shared<rclcpp::Node>("n");
  auto server = rclcpp_action::create_server<ArmTask>(
    node, "a",
    [](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal>) {
      return rclcpp_action::GoalResponse::REJECT;
    },
    [](std::shared_ptr<GoalHandle>) {return rclcpp_action::CancelResponse::REJECT;},
    [](std::shared_ptr<GoalHandle>) {});
  CALLS(std::shared_ptr<rclcpp_action::Server<ArmTask>>, server);

  SAME_MEMBER(
    GoalHandle, get_goal, const std::shared_ptr<const ArmTask::Goal> (GoalHandle::*)() const);
  SAME_MEMBER(GoalHandle, get_goal_id, const rclcpp_action::GoalUUID & (GoalHandle::*)() const);
  SAME_MEMBER(GoalHandle, succeed, void (GoalHandle::*)(ArmTask::Result::SharedPtr));
  SAME_MEMBER(GoalHandle, abort, void (GoalHandle::*)(ArmTask::Result::SharedPtr));
  SAME_MEMBER(GoalHandle, canceled, void (GoalHandle::*)(ArmTask::Result::SharedPtr));
  SAME_MEMBER(
    GoalHandle, publish_feedback, void (GoalHandle::*)(std::shared_ptr<ArmTask::Feedback>));
  CALLS(bool, cref<GoalHandle>().is_canceling());
  CALLS(bool, cref<GoalHandle>().is_active());
  CALLS(bool, cref<GoalHandle>().is_executing());
}

// --- the action client ----------------------------------------------------------------------
[[maybe_unused]] void action_client()
{
  using Client = rclcpp_action::Client<ArmTask>;
  using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
  auto node = std::make_shared<rclcpp::Node>("n");
  CALLS(Client::SharedPtr, rclcpp_action::create_client<ArmTask>(node, "a"));
  CALLS(Client::SharedPtr, rclcpp_action::create_client<ArmTask>(node.get(), "a", nullptr));

  static_assert(std::is_same_v<Client::GoalHandle, GoalHandle>);
  static_assert(
    std::is_same_v<
      Client::GoalResponseCallback, std::function<void (GoalHandle::SharedPtr)>>);
  static_assert(
    std::is_same_v<
      Client::FeedbackCallback,
      std::function<void (GoalHandle::SharedPtr, const std::shared_ptr<const ArmTask::Feedback>)>>);
  static_assert(
    std::is_same_v<Client::ResultCallback, std::function<void (const GoalHandle::WrappedResult &)>>);
  static_assert(
    std::is_same_v<
      Client::CancelCallback, std::function<void (Client::CancelResponse::SharedPtr)>>);
  Client::SendGoalOptions options;
  options.goal_response_callback = [](GoalHandle::SharedPtr) {};
  options.feedback_callback =
    [](GoalHandle::SharedPtr, const std::shared_ptr<const ArmTask::Feedback>) {};
  options.result_callback = [](const GoalHandle::WrappedResult &) {};

  auto & client = ref<Client>();
  CALLS(std::shared_future<GoalHandle::SharedPtr>, client.async_send_goal(ArmTask::Goal()));
  CALLS(std::shared_future<GoalHandle::SharedPtr>, client.async_send_goal(ArmTask::Goal(), options));
  CALLS(
    std::shared_future<GoalHandle::WrappedResult>,
    client.async_get_result(GoalHandle::SharedPtr()));
  CALLS(
    std::shared_future<Client::CancelResponse::SharedPtr>,
    client.async_cancel_goal(GoalHandle::SharedPtr()));
  auto on_cancel_response = [](Client::CancelResponse::SharedPtr) {};
  CALLS(
    std::shared_future<Client::CancelResponse::SharedPtr>,
    client.async_cancel_goal(GoalHandle::SharedPtr(), on_cancel_response));
  CALLS(std::shared_future<Client::CancelResponse::SharedPtr>, client.async_cancel_all_goals());
  CALLS(bool, cref<Client>().action_server_is_ready());
  CALLS(bool, client.wait_for_action_server(std::chrono::milliseconds(100)));
  CALLS(bool, ref<rclcpp_action::ClientBase>().wait_for_action_server(std::chrono::seconds(1)));
  CALLS(bool, cref<rclcpp_action::ClientBase>().action_server_is_ready());

  CALLS(const rclcpp_action::GoalUUID &, cref<GoalHandle>().get_goal_id());
  CALLS(rclcpp_action::ResultCode, cref<GoalHandle::WrappedResult>().code);
  CALLS(ArmTask::Result::SharedPtr, cref<GoalHandle::WrappedResult>().result);
  CALLS(rclcpp_action::GoalUUID, cref<GoalHandle::WrappedResult>().goal_id);
  CALLS(std::string, rclcpp_action::to_string(rclcpp_action::GoalUUID()));
  static_assert(rclcpp_action::ResultCode::SUCCEEDED != rclcpp_action::ResultCode::UNKNOWN);
  static_assert(rclcpp_action::ResultCode::CANCELED != rclcpp_action::ResultCode::ABORTED);
}

}  // namespace
