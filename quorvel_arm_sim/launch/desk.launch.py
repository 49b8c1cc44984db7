"""A desk without a robot: arm_sim playing a scene, the supervisor against it, and optionally
the live page. What scripts/demo runs, for a host with ROS 2 Humble.

    ros2 launch quorvel_arm_sim desk.launch.py
    ros2 launch quorvel_arm_sim desk.launch.py scene:=grab_recovery dashboard:=true

Then send a task from another terminal:

    ros2 action send_goal /quorvel_action/arm_task quorvel_interfaces/action/ArmTask \
        "{cmd: 1}" --feedback
    quorvel task            # the same, with the task's events and the result explained

Start it afresh for each scene: arm_sim's fault plan counts calls from its own start.
"""

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument
from launch.conditions import IfCondition
from launch.substitutions import LaunchConfiguration, PathJoinSubstitution
from launch_ros.actions import Node
from launch_ros.parameter_descriptions import ParameterValue
from launch_ros.substitutions import FindPackageShare


def generate_launch_description():
    shipped_params = PathJoinSubstitution(
        [FindPackageShare('quorvel_arm_supervisor'), 'config', 'arm_supervisor_params.yaml'])
    return LaunchDescription([
        DeclareLaunchArgument(
            'scene', default_value='clear_table',
            description="arm_sim's scene: a shipped scene's name or a scene file"),
        DeclareLaunchArgument(
            'speed', default_value='1.0',
            description="arm_sim's time scale (2.0: twice as fast)"),
        DeclareLaunchArgument(
            'params_file', default_value=shipped_params,
            description='ROS parameter file of arm_supervisor'),
        DeclareLaunchArgument(
            'gripper_delay_ms', default_value='300',
            description='gripper close and release waits of the supervisor, in ms (the robot '
                        "waits 1500 and 2000; a desk's simulated gripper needs less)"),
        DeclareLaunchArgument(
            'log_level', default_value='info',
            description='level of the ROS loggers: debug, info, warn, error or fatal'),
        DeclareLaunchArgument(
            'dashboard', default_value='false',
            description='true: also serve the live page (quorvel dashboard); its address with '
                        'its token is printed at start'),
        DeclareLaunchArgument(
            'dashboard_port', default_value='8765',
            description="the live page's TCP port on 127.0.0.1"),
        Node(
            package='quorvel_arm_sim',
            executable='arm_sim',
            parameters=[{
                'scene': ParameterValue(LaunchConfiguration('scene'), value_type=str),
                # a double even when written without a decimal point (speed:=2)
                'speed': ParameterValue(LaunchConfiguration('speed'), value_type=float),
            }],
            ros_arguments=['--log-level', LaunchConfiguration('log_level')],
            output='screen',
        ),
        Node(
            package='quorvel_arm_supervisor',
            executable='arm_supervisor',
            # malloc without per-thread caches, one arena: its memory stays flat over days
            # (README, "Memory over a long run").
            additional_env={'GLIBC_TUNABLES': 'glibc.malloc.tcache_count=0:glibc.malloc.arena_max=1'},
            parameters=[
                LaunchConfiguration('params_file'),
                {
                    'gripper_close_delay': ParameterValue(
                        LaunchConfiguration('gripper_delay_ms'), value_type=int),
                    'gripper_release_delay': ParameterValue(
                        LaunchConfiguration('gripper_delay_ms'), value_type=int),
                },
            ],
            ros_arguments=['--log-level', LaunchConfiguration('log_level')],
            output='screen',
            emulate_tty=True,
        ),
        Node(
            package='quorvel_tools',
            executable='quorvel',
            arguments=['dashboard', '--port', LaunchConfiguration('dashboard_port')],
            output='screen',
            condition=IfCondition(LaunchConfiguration('dashboard')),
        ),
    ])
