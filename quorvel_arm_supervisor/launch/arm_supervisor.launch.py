"""The arm supervisor on a ROS 2 Humble host.

    ros2 launch quorvel_arm_supervisor arm_supervisor.launch.py
    ros2 launch quorvel_arm_supervisor arm_supervisor.launch.py \
        params_file:=/etc/quorvel/my_params.yaml log_level:=debug namespace:=arm1

The numbered task log (ARM_LOG_* lines) follows SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL
from the environment of `ros2 launch`; log_level sets the ROS loggers' level.
"""

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument
from launch.substitutions import LaunchConfiguration, PathJoinSubstitution
from launch_ros.actions import Node
from launch_ros.substitutions import FindPackageShare


def generate_launch_description():
    shipped_params = PathJoinSubstitution(
        [FindPackageShare('quorvel_arm_supervisor'), 'config', 'arm_supervisor_params.yaml'])
    return LaunchDescription([
        DeclareLaunchArgument(
            'params_file', default_value=shipped_params,
            description='ROS parameter file of arm_supervisor (the shipped one: every value at '
                        'its default, joint targets from arm_joints.yaml)'),
        DeclareLaunchArgument(
            'log_level', default_value='info',
            description='level of the ROS loggers: debug, info, warn, error or fatal'),
        DeclareLaunchArgument(
            'namespace', default_value='',
            description='namespace of the node; its default topic, service and action names are '
                        'absolute and stay as they are'),
        Node(
            package='quorvel_arm_supervisor',
            executable='arm_supervisor',
            # malloc without per-thread caches, one arena: its memory stays flat over days
            # (README, "Memory over a long run").
            additional_env={'GLIBC_TUNABLES': 'glibc.malloc.tcache_count=0:glibc.malloc.arena_max=1'},
            namespace=LaunchConfiguration('namespace'),
            parameters=[LaunchConfiguration('params_file')],
            ros_arguments=['--log-level', LaunchConfiguration('log_level')],
            output='screen',
            emulate_tty=True,
        ),
    ])
