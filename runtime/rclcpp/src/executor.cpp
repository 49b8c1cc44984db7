#include "rclcpp/executor.hpp"

#include <algorithm>
#include <stdexcept>

#include "dds/dds.hpp"
#include "rclcpp/logging.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp
{

namespace
{
// A waitset key packs the slot and the condition index of an entity; key 0 is the interrupt.
constexpr intptr_t kInterruptKey = 0;
constexpr intptr_t kConditionsPerSlot = 64;

intptr_t make_key(size_t slot, size_t index)
{
  return static_cast<intptr_t>(slot + 1) * kConditionsPerSlot + static_cast<intptr_t>(index);
}
}  // namespace

Executor::Executor(const ExecutorOptions & options)
: context_(options.context ? options.context : contexts::get_global_default_context()),
  waitset_(std::make_unique<dds::WaitSet>()),
  interrupt_guard_(std::make_unique<dds::GuardCondition>())
{
  waitset_->attach(interrupt_guard_->entity(), kInterruptKey);
  context_interrupt_ = context_->add_interrupt([this]() {interrupt();});
}

Executor::~Executor()
{
  context_->remove_interrupt(context_interrupt_);
  std::lock_guard<std::mutex> lock(nodes_mutex_);
  for (auto & entry : nodes_) {
    if (auto node = entry.node.lock()) {
      node->remove_executor_interrupt(entry.interrupt_handle);
      node->get_associated_with_executor_atomic().store(false);
    }
  }
  for (auto & entry : groups_) {
    if (auto group = entry.group.lock()) {
      group->get_associated_with_executor_atomic().store(false);
    }
  }
}

void Executor::interrupt()
{
  interrupt_guard_->trigger();
}

void Executor::cancel()
{
  spinning_.store(false);
  interrupt();
}

bool Executor::context_is_ok() const
{
  return context_->is_valid();
}

void Executor::spinning_guard_begin()
{
  if (spinning_.exchange(true)) {
    throw std::runtime_error("spin() called while already spinning");
  }
}

void Executor::spinning_guard_end()
{
  spinning_.store(false);
}

void Executor::add_node(node_interfaces::NodeBase::SharedPtr node, bool notify)
{
  if (node->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error("Node '" + node->get_fully_qualified_name() +
            "' has already been added to an executor.");
  }
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    NodeEntry entry;
    entry.node = node;
    entry.interrupt_handle = node->add_executor_interrupt(
      [this]() {
        entities_changed_.store(true);
        interrupt();
      });
    nodes_.push_back(entry);
  }
  entities_changed_.store(true);
  if (notify) {
    interrupt();
  }
}

void Executor::add_node(std::shared_ptr<Node> node, bool notify)
{
  add_node(node->get_node_base_interface(), notify);
}

void Executor::remove_node(node_interfaces::NodeBase::SharedPtr node, bool notify)
{
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
      if (it->node.lock() == node) {
        node->remove_executor_interrupt(it->interrupt_handle);
        node->get_associated_with_executor_atomic().store(false);
        nodes_.erase(it);
        break;
      }
    }
  }
  entities_changed_.store(true);
  if (notify) {
    interrupt();
  }
}

void Executor::remove_node(std::shared_ptr<Node> node, bool notify)
{
  remove_node(node->get_node_base_interface(), notify);
}

void Executor::add_callback_group(
  CallbackGroup::SharedPtr group, node_interfaces::NodeBase::SharedPtr node, bool notify)
{
  if (group->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error("Callback group has already been added to an executor.");
  }
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    groups_.push_back(GroupEntry{group, node});
  }
  entities_changed_.store(true);
  if (notify) {
    interrupt();
  }
}

void Executor::remove_callback_group(CallbackGroup::SharedPtr group, bool notify)
{
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    groups_.erase(
      std::remove_if(
        groups_.begin(), groups_.end(),
        [&group](const GroupEntry & e) {return e.group.lock() == group;}),
      groups_.end());
  }
  group->get_associated_with_executor_atomic().store(false);
  entities_changed_.store(true);
  if (notify) {
    interrupt();
  }
}

void Executor::refresh_entities_if_changed()
{
  if (!entities_changed_.exchange(false)) {
    return;
  }
  std::vector<CallbackGroup::SharedPtr> groups;
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    for (auto & entry : nodes_) {
      auto node = entry.node.lock();
      if (!node) {
        continue;
      }
      for (auto & weak : node->get_callback_groups()) {
        auto group = weak.lock();
        if (group && group->automatically_add_to_executor_with_node() &&
          !group->get_associated_with_executor_atomic().load())
        {
          groups.push_back(group);
        }
      }
    }
    for (auto & entry : groups_) {
      if (auto group = entry.group.lock()) {
        groups.push_back(group);
      }
    }
  }
  slots_.clear();
  ready_.clear();
  attached_complete_ = false;
  for (auto & group : groups) {
    for (auto & entity : group->executables()) {
      slots_.push_back(Slot{entity, group});
    }
  }
}

void Executor::sync_attachments()
{
  // Attach the conditions of entities that may run now; entities that are running, or whose
  // mutually exclusive group is busy, stay detached so their level-triggered conditions do not
  // wake a waiting thread in a loop.
  std::map<int32_t, intptr_t> wanted;
  bool complete = true;
  for (size_t s = 0; s < slots_.size(); ++s) {
    auto entity = slots_[s].entity.lock();
    auto group = slots_[s].group.lock();
    if (!entity || !group) {
      continue;
    }
    if (entity->in_use.load() ||
      (group->type() == CallbackGroupType::MutuallyExclusive &&
      !group->can_be_taken_from().load()))
    {
      complete = false;
      continue;
    }
    for (size_t i = 0; i < entity->condition_count(); ++i) {
      wanted.emplace(entity->condition(i), make_key(s, i));
    }
  }
  for (auto it = attached_.begin(); it != attached_.end();) {
    auto w = wanted.find(it->first);
    if (w == wanted.end() || w->second != it->second) {
      waitset_->detach(it->first);
      it = attached_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto & w : wanted) {
    if (attached_.count(w.first) == 0) {
      waitset_->attach(w.first, w.second);
      attached_.emplace(w.first, w.second);
    }
  }

  attached_complete_ = complete;
}

void Executor::wait_for_work(std::chrono::nanoseconds timeout)
{
  refresh_entities_if_changed();

  // Fast path: when nothing is busy and the attachments already cover every entity, only the
  // timers need looking at; no allocation happens per wait.
  auto earliest_timer = std::chrono::steady_clock::time_point::max();
  bool any_busy = false;
  for (const auto & slot : slots_) {
    auto entity = slot.entity.lock();
    auto group = slot.group.lock();
    if (!entity || !group) {
      entities_changed_.store(true);  // re-collect next time
      continue;
    }
    const bool busy = entity->in_use.load() ||
      (group->type() == CallbackGroupType::MutuallyExclusive &&
      !group->can_be_taken_from().load());
    if (busy) {
      any_busy = true;
    } else if (entity->condition_count() == 0) {
      earliest_timer = std::min(earliest_timer, entity->next_call_time());
    }
  }
  if (any_busy || !attached_complete_) {
    sync_attachments();
  }
  auto wait = timeout;
  if (earliest_timer != std::chrono::steady_clock::time_point::max()) {
    auto until_timer = std::chrono::duration_cast<std::chrono::nanoseconds>(
      earliest_timer - std::chrono::steady_clock::now());
    if (until_timer < std::chrono::nanoseconds(0)) {
      until_timer = std::chrono::nanoseconds(0);
    }
    if (wait < std::chrono::nanoseconds(0) || until_timer < wait) {
      wait = until_timer;
    }
  }

  const std::vector<intptr_t> keys = waitset_->wait(wait);
  for (intptr_t key : keys) {
    if (key == kInterruptKey) {
      interrupt_guard_->take();
      continue;
    }
    const size_t slot = static_cast<size_t>(key / kConditionsPerSlot - 1);
    const size_t index = static_cast<size_t>(key % kConditionsPerSlot);
    if (slot < slots_.size() &&
      std::find(ready_.begin(), ready_.end(), std::make_pair(slot, index)) == ready_.end())
    {
      ready_.emplace_back(slot, index);
    }
  }
  const auto now = std::chrono::steady_clock::now();
  for (size_t s = 0; s < slots_.size(); ++s) {
    auto entity = slots_[s].entity.lock();
    if (entity && entity->condition_count() == 0 && entity->next_call_time() <= now &&
      std::find(ready_.begin(), ready_.end(), std::make_pair(s, size_t{0})) == ready_.end())
    {
      ready_.emplace_back(s, 0);
    }
  }
}

bool Executor::take_ready(AnyExecutable & any)
{
  for (auto it = ready_.begin(); it != ready_.end(); ++it) {
    auto entity = slots_[it->first].entity.lock();
    auto group = slots_[it->first].group.lock();
    if (!entity || !group) {
      ready_.erase(it);
      return take_ready(any);
    }
    if (entity->in_use.load()) {
      continue;
    }
    if (group->type() == CallbackGroupType::MutuallyExclusive) {
      bool expected = true;
      if (!group->can_be_taken_from().compare_exchange_strong(expected, false)) {
        continue;
      }
    }
    entity->in_use.store(true);
    any.entity = std::move(entity);
    any.index = it->second;
    any.group = std::move(group);
    ready_.erase(it);
    return true;
  }
  return false;
}

bool Executor::get_next_executable(AnyExecutable & any, std::chrono::nanoseconds timeout)
{
  if (take_ready(any)) {
    return true;
  }
  wait_for_work(timeout);
  return take_ready(any);
}

void Executor::execute_any_executable(AnyExecutable & any)
{
  struct Release
  {
    Executor * executor;
    AnyExecutable & any;
    ~Release()
    {
      any.entity->in_use.store(false);
      if (any.group->type() == CallbackGroupType::MutuallyExclusive) {
        any.group->can_be_taken_from().store(true);
      }
      if (executor->wake_after_execution_) {
        executor->interrupt();
      }
    }
  } release{this, any};
  try {
    any.entity->execute(any.index);
  } catch (const std::exception & e) {
    RCLCPP_ERROR(
      rclcpp::get_logger("rclcpp"), "exception in the callback of %s: %s",
      any.entity->describe().c_str(), e.what());
    throw;
  }
}

void Executor::spin_once_impl(std::chrono::nanoseconds timeout)
{
  AnyExecutable any;
  if (get_next_executable(any, timeout)) {
    execute_any_executable(any);
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout)
{
  spinning_guard_begin();
  struct End
  {
    Executor * e;
    ~End() {e->spinning_guard_end();}
  } end{this};
  spin_once_impl(timeout);
}

void Executor::spin_some(std::chrono::nanoseconds max_duration)
{
  spinning_guard_begin();
  struct End
  {
    Executor * e;
    ~End() {e->spinning_guard_end();}
  } end{this};
  const auto start = std::chrono::steady_clock::now();
  // Collect what is ready now, then run it; work that arrives meanwhile waits for the next call.
  wait_for_work(std::chrono::nanoseconds(0));
  AnyExecutable any;
  while (spinning_.load() && context_is_ok() && take_ready(any)) {
    execute_any_executable(any);
    any = AnyExecutable();
    if (max_duration > std::chrono::nanoseconds(0) &&
      std::chrono::steady_clock::now() - start > max_duration)
    {
      break;
    }
  }
}

void Executor::spin_all(std::chrono::nanoseconds max_duration)
{
  spinning_guard_begin();
  struct End
  {
    Executor * e;
    ~End() {e->spinning_guard_end();}
  } end{this};
  const auto start = std::chrono::steady_clock::now();
  while (spinning_.load() && context_is_ok()) {
    AnyExecutable any;
    if (!get_next_executable(any, std::chrono::nanoseconds(0))) {
      break;
    }
    execute_any_executable(any);
    if (max_duration > std::chrono::nanoseconds(0) &&
      std::chrono::steady_clock::now() - start > max_duration)
    {
      break;
    }
  }
}

void Executor::spin_node_some(std::shared_ptr<Node> node)
{
  add_node(node, false);
  spin_some();
  remove_node(node, false);
}

}  // namespace rclcpp
