#!/usr/bin/python3
"""quorvel dashboard --bag as a person sees it, in headless Chromium.

Runs a task of the desk (--desk programs, as test_dashboard_browser.py takes them) with
`quorvel record` and the live `quorvel dashboard` beside it, keeps the live page's state at the
end, then plays the bag with `quorvel dashboard --bag`:
  - the state at the end of the recording equals the live one (what does not depend on when a
    message happened to arrive at each of the two programs),
  - on the page, stepping event by event to where the recovery starts shows the arm abnormal,
    the recovery's event marked in the timeline and the task's joint plot with its cursor; one
    step on, where the recovery waits for the arm, the plot shows the recovery's span and its
    position; no button sends anything; the page says it is a recording, with the bag's name and
    the task's date,
  - screenshots at several window sizes (the first one for the README).

Exit status: 0 passed, 1 failed, 77 skipped (no chromium, chromedriver or selenium).
Environment: ROS_DOMAIN_ID (the test's own), ROS_LOCALHOST_ONLY=1.
"""

import argparse
import json
import os
import shutil
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_dashboard_browser import (  # noqa: E402
    SKIP, Failure, Program, action_server_up, desk_command, find_browser, log, open_browser,
    state, text_of, wait_until)


def get_json(port, path):
    with urllib.request.urlopen('http://127.0.0.1:%d%s' % (port, path), timeout=10) as response:
        return json.load(response)


def comparable(snapshot):
    """The parts of a state that the same messages decide, whenever each program got them."""
    out = {}
    for name in ('task', 'timeline', 'workspace', 'outcomes'):
        out[name] = snapshot[name]
    arm = dict(snapshot['arm'])
    for key in ('abnormal_ms', 'gripper_ms'):
        arm.pop(key)
    arm['joints'] = {k: v for k, v in arm['joints'].items() if k != 'received_ms'}
    out['arm'] = arm
    out['voice'] = [(v['code'], v['meaning']) for v in snapshot['voice']['items']]
    surroundings = dict(snapshot['surroundings'])
    surroundings.pop('received_ms')
    out['surroundings'] = surroundings
    plot = {k: v for k, v in snapshot['plot'].items() if k not in ('samples', 'abnormal', 'period_ms', 'first', 'reset')}
    plot['abnormal_spells'] = len(snapshot['plot']['abnormal'])
    out['plot'] = plot
    return out


def differences(a, b, path=''):
    if isinstance(a, dict) and isinstance(b, dict):
        found = []
        for key in sorted(set(a) | set(b)):
            found += differences(a.get(key), b.get(key), path + '.' + key)
        return found
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        found = []
        for i, (x, y) in enumerate(zip(a, b)):
            found += differences(x, y, '%s[%d]' % (path, i))
        return found
    return [] if a == b else ['%s: live %r, replay %r' % (path, a, b)]


def screenshot(driver, path, width):
    """The whole page at `width`, the window just as tall as the page."""
    driver.set_window_size(width, 1000)
    time.sleep(0.3)
    for _ in range(4):
        inner, bottom = driver.execute_script(
            "return [window.innerHeight, Math.ceil(document.querySelector('.layout')"
            ".getBoundingClientRect().bottom + window.scrollY)];")
        if abs(inner - bottom) <= 1:
            break
        height = driver.get_window_size()['height']
        driver.set_window_size(width, min(height + bottom - inner, 4000))
        time.sleep(0.3)  # the plot redraws for the new size
    driver.save_screenshot(path)
    log('screenshot: %s' % path)


def record_task(args, workdir, programs):
    """Runs one task with the recorder and the live dashboard; returns the bag and the live state."""
    bag = os.path.join(workdir, 'grab_recovery')
    recorder = Program('record', [args.quorvel, 'record', '-o', bag], workdir)
    programs.append(recorder)
    recorder.wait_for(r'^recording into', 20)
    for index, command in enumerate(args.desk):
        programs.append(Program('desk%d' % (index + 1), desk_command(command), workdir))
    live = Program('live', [args.quorvel, 'dashboard', '--port', str(args.port)], workdir)
    programs.append(live)
    live.wait_for(r'^dashboard: http://', 20)
    wait_until('the action server shows up on the live page', lambda: action_server_up(args.port),
               40, 0.25)
    recorder.wait_for(r'^recording /quorvel/arm_supervisor/task_events ', 20)
    recorder.wait_for(r'^recording /robot/joint_angle ', 20)
    recorder.wait_for(r'^recording /robot/unnormal_flag ', 20)

    task = Program('task', [args.quorvel, 'task', '--timeout', '60', '--no-events'], workdir)
    programs.append(task)
    if task.wait_exit(90) != 0 or 'error_code: 102300003' not in task.text():
        raise Failure('the grab_recovery task did not end as its scene says:\n' + task.tail())
    wait_until('the live page shows the task\'s end',
               lambda: state(args.port)['outcomes']['items'], 10)
    # The arm at rest for a moment: the last angles are the same in both programs.
    time.sleep(1.5)
    live_state = state(args.port)
    recorder.process.send_signal(2)
    if recorder.wait_exit(15) != 0:
        raise Failure('quorvel record failed:\n' + recorder.tail())
    live.stop()
    for program in programs:
        if program.name.startswith('desk'):
            program.stop()
    return bag, live_state


def run(args, workdir, programs):
    chromium, driver_path, missing = find_browser(args)
    if missing:
        print('SKIP: the replay test needs %s (not installed)' % ', '.join(missing), flush=True)
        return SKIP

    bag, live_state = record_task(args, workdir, programs)

    replay = Program('replay', [args.quorvel, 'dashboard', '--bag', bag, '--port', str(args.port)],
                     workdir)
    programs.append(replay)
    url = replay.wait_for(r'^dashboard: (http://\S+)$', 30).group(1)
    replay.wait_for(r"playing bag '.*' \(1 task\(s\)", 5)

    # The end of the recording is the end of the live run.
    replayed = get_json(args.port, '/api/state')
    diff = differences(comparable(live_state), comparable(replayed))
    if diff:
        raise Failure('the replayed state at the end differs from the live one:\n  ' +
                      '\n  '.join(diff[:20]))
    log('the replayed state at the end equals the live one (%d timeline entries)'
        % len(replayed['timeline']['entries']))

    info = get_json(args.port, '/api/replay')
    detail = get_json(args.port, '/api/replay/task?index=0')
    starts = [e for e in detail['events'] if e['kind'] == 13]  # RECOVERY_STARTED
    waits = [e for e in detail['events'] if e['kind'] == 14]  # RECOVERY_ARM_ABNORMAL
    if not starts or not waits:
        raise Failure('the recording has no recovery that waits for the arm: %r'
                      % detail['events'])

    driver = open_browser(chromium, driver_path, args.port + 1, workdir)
    try:
        driver.set_page_load_timeout(20)
        driver.set_window_size(1440, 1000)
        driver.get(url)
        wait_until('the page shows the recording',
                   lambda: driver.execute_script(
                       'return !!(window.quorvelReplayShown && window.quorvelReplay.detail);'), 15)
        from selenium.webdriver.common.by import By
        if driver.find_element(By.ID, 'send-task').is_displayed() or \
                driver.find_element(By.ID, 'cancel-task').is_displayed():
            raise Failure('the recording shows the send or cancel button')
        title = text_of(driver, '.player-title')
        if bag not in title or 'Recording' not in title:
            raise Failure('the page does not name the recording: %r' % title)
        date = text_of(driver, '#player-date')
        if not date.startswith('task of 20'):
            raise Failure('the page does not give the task\'s date: %r' % date)

        def step_to(target):
            """Event by event, as a person would, to `target`; a failure if the page passes it."""
            for _ in range(len(detail['events'])):
                shown = driver.execute_script('return window.quorvelReplayShown.at_ns;')
                if shown >= target['at_ns']:
                    break
                driver.find_element(By.ID, 'player-next').click()
                wait_until('the page moves to the next event', lambda: driver.execute_script(
                    'return window.quorvelReplayShown.at_ns;') > shown and not driver.execute_script(
                    'return window.quorvelReplay.busy;'), 5, 0.05)
            shown = driver.execute_script('return window.quorvelReplayShown.at_ns;')
            if shown != target['at_ns']:
                raise Failure('stepping ended at %r, not at %r' % (shown, target))

        def current_event():
            return driver.execute_script(
                "var li = document.querySelector('#timeline li.current');"
                "return li ? [Number(li.dataset.kind), li.textContent] : null;")

        def plot_now():
            return driver.execute_script(
                "var p = document.getElementById('plot');"
                "return {lines: p.querySelectorAll('polyline.pl-line').length,"
                " recovery: p.querySelectorAll('rect.pl-recovery').length,"
                " positions: p.querySelectorAll('polygon.pl-position').length,"
                " cursor: p.querySelectorAll('line.pl-cursor').length,"
                " labels: Array.from(p.querySelectorAll('.pl-label')).map(function (t) {"
                "   return t.textContent; }),"
                " legend: document.getElementById('plot-legend').textContent};")

        problems = []
        # Where the recovery starts. arm_sim publishes the abnormal state a tick before the answer
        # that starts the recovery, so the recording holds it before the recovery's event.
        step_to(starts[0])
        arm = text_of(driver, '#arm-state')
        current = current_event()
        recovery_rows = driver.execute_script(
            "return document.querySelectorAll('#timeline li[data-kind=\"13\"]').length;")
        plot = plot_now()
        log('where the recovery starts: %r; current event %r; plot %r' % (arm, current, plot))
        if arm != 'arm ABNORMAL':
            problems.append('the arm shows %r where the recovery starts' % arm)
        if not current or current[0] != 13:
            problems.append('the current event marked is %r' % (current,))
        if recovery_rows != 1:
            problems.append('%d recovery starts in the timeline' % recovery_rows)
        if plot['lines'] != 5 or plot['cursor'] != 1:
            problems.append('the plot lacks something: %r' % plot)
        if 'joint angle (rad)' not in plot['labels'] or \
                'time since the task started (s)' not in plot['labels'] or \
                'joint1' not in plot['legend']:
            problems.append('the plot lacks its units or legend: %r' % plot)

        # One step on, the recovery waits for the arm: its span and position are on the plot.
        # The arm is not checked here: this event and the normal state that the next recover
        # message brings can reach the recorder in either order.
        step_to(waits[0])
        current = current_event()
        plot = plot_now()
        log('at the wait for the arm: current event %r; plot %r' % (current, plot))
        if not current or current[0] != 14:
            problems.append('the current event marked is %r' % (current,))
        if plot['lines'] != 5 or plot['recovery'] < 1 or plot['positions'] < 5 or \
                plot['cursor'] != 1:
            problems.append('the plot lacks something at the wait: %r' % plot)
        severe = [entry['message'] for entry in driver.get_log('browser')
                  if entry.get('level') == 'SEVERE']
        if severe:
            problems.append('the page logged errors: %s' % severe)
        if problems:
            raise Failure('; '.join(problems))

        if args.screenshot:
            screenshot(driver, args.screenshot, 1440)
            for width in (1024, 760):
                screenshot(driver, args.screenshot.replace('.png', '-%d.png' % width), width)

        # Playing at 16x runs to the end of the task and stops there.
        driver.find_element(By.CSS_SELECTOR, '.speed[data-speed="16"]').click()
        driver.find_element(By.ID, 'player-play').click()
        end = info['tasks'][0]['end_ns']
        wait_until('playing reaches the end of the task', lambda: driver.execute_script(
            'return window.quorvelReplayShown.at_ns;') == end and not driver.execute_script(
            'return window.quorvelReplay.playing;'), 30, 0.2)
        if text_of(driver, '#task-outcome') != 'succeeded' or \
                text_of(driver, '#task-error-code') != '102300003':
            raise Failure('the end of the task shows %r %r' % (
                text_of(driver, '#task-outcome'), text_of(driver, '#task-error-code')))
        log('played to the end at 16x: succeeded, 102300003')
        return 0
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--quorvel', required=True)
    parser.add_argument('--desk', action='append', default=[])
    parser.add_argument('--port', type=int, required=True,
                        help='the dashboards\' port; chromedriver takes the next one')
    parser.add_argument('--screenshot', help='PNG file of the page at the recovery')
    parser.add_argument('--chromium')
    parser.add_argument('--chromedriver')
    args = parser.parse_args()
    if 'ROS_DOMAIN_ID' not in os.environ:
        print('the replay test needs a ROS_DOMAIN_ID of its own', file=sys.stderr)
        return 1
    os.environ['ROS_LOCALHOST_ONLY'] = '1'
    os.environ.pop('CYCLONEDDS_URI', None)

    workdir = tempfile.mkdtemp(prefix='quorvel-replay-')
    programs = []
    status = 1
    try:
        status = run(args, workdir, programs)
    except Failure as failure:
        log('FAIL: %s' % failure)
    except Exception as error:  # selenium and OS errors: report them as a failure
        log('FAIL: %s: %s' % (type(error).__name__, error))
    finally:
        for program in reversed(programs):
            program.stop()
        if status == 1:
            for program in programs:
                print('----- %s (last 30 lines) -----\n%s' % (program.name, program.tail()))
            log('logs kept in %s' % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    if status == 0:
        log('passed')
    return status


if __name__ == '__main__':
    sys.exit(main())
