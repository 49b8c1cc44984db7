#!/usr/bin/python3
"""The dashboard as a person sees it, in headless Chromium.

Starts the programs of a desk (--desk, once per program; each is started, watched and stopped
by its PID), then `quorvel dashboard`, sends a task with `quorvel task`, opens the page while
the task runs and waits until the page shows the task's result. Checks what it shows (outcome,
error code, trashes picked), keeps a screenshot, and measures dashboard_update_latency_ms: from
a task event's stamp (wall clock, set by its publisher) to the moment the page had it in its
timeline (window.quorvelRenderLog), for the events that came after the page was opened.

Unless --bench: then presses "Send task" on the page and waits for that task's outcome, and
stops and restarts the dashboard to see the page show the loss and reconnect by itself.

A --desk command is split like a shell line. Its program is a path, a name on PATH, or the name
of an installed ROS program (AMENT_PREFIX_PATH/lib/<package>/<name>); "@share:<package>@" in
its arguments stands for that package's installed share directory. For example, the real
supervisor and the simulated arm:
  --desk "arm_sim --ros-args -p scene:=clear_table"
  --desk "arm_supervisor --ros-args --params-file
          @share:quorvel_arm_supervisor@/config/arm_supervisor_params.yaml"

Exit status: 0 passed, 1 failed, 77 skipped (no chromium, chromedriver or selenium).
Environment: ROS_DOMAIN_ID (the test's own), ROS_LOCALHOST_ONLY=1.
"""

import argparse
import json
import os
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77


class Failure(Exception):
    pass


def log(message):
    print('[browser %s] %s' % (time.strftime('%H:%M:%S'), message), flush=True)


class Program:
    """A program this test started: output in a file, stopped by its PID."""

    def __init__(self, name, argv, workdir, env=None):
        self.name = name
        self.argv = argv
        self.path = os.path.join(workdir, name + '.log')
        self.out = open(self.path, 'w')
        self.process = subprocess.Popen(
            argv, stdout=self.out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        log('started %s (pid %d): %s' % (name, self.process.pid, ' '.join(argv)))

    def text(self):
        with open(self.path, errors='replace') as f:
            return f.read()

    def wait_for(self, pattern, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            match = re.search(pattern, self.text(), re.MULTILINE)
            if match:
                return match
            if self.process.poll() is not None:
                raise Failure('%s ended (status %d) before printing /%s/'
                              % (self.name, self.process.returncode, pattern))
            time.sleep(0.05)
        raise Failure('%s printed no /%s/ within %g s' % (self.name, pattern, seconds))

    def wait_exit(self, seconds):
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure('%s still runs after %g s' % (self.name, seconds))

    def stop(self):
        # Ctrl-C first, as a person would; then harder, each with a bound.
        for sig, grace in ((signal.SIGINT, 5), (signal.SIGTERM, 3), (signal.SIGKILL, 3)):
            if self.process.poll() is not None:
                break
            self.process.send_signal(sig)
            try:
                self.process.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass
        self.out.close()

    def tail(self, lines=30):
        return '\n'.join(self.text().splitlines()[-lines:])


def ament_prefixes():
    return [p for p in os.environ.get('AMENT_PREFIX_PATH', '').split(':') if p]


def desk_command(line):
    """The argv of a --desk line, with its program and share directories found."""
    def share(match):
        for prefix in ament_prefixes():
            path = os.path.join(prefix, 'share', match.group(1))
            if os.path.isdir(path):
                return path
        raise Failure('no installed package %s under AMENT_PREFIX_PATH' % match.group(1))

    argv = [re.sub(r'@share:([A-Za-z0-9_]+)@', share, word) for word in shlex.split(line)]
    if not argv:
        raise Failure('an empty --desk command')
    program = argv[0]
    if os.sep not in program and not shutil.which(program):
        for prefix in ament_prefixes():
            lib = os.path.join(prefix, 'lib')
            for package in sorted(os.listdir(lib)) if os.path.isdir(lib) else []:
                candidate = os.path.join(lib, package, program)
                if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
                    argv[0] = candidate
                    return argv
        raise Failure('program %s not found on PATH nor under AMENT_PREFIX_PATH' % program)
    return argv


def wait_until(what, condition, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure('%s: not within %g s' % (what, seconds))
        time.sleep(step)


def state(port):
    with urllib.request.urlopen('http://127.0.0.1:%d/api/state' % port, timeout=3) as response:
        return json.load(response)


def action_server_up(port):
    try:
        items = state(port)['endpoints']['items']
    except (OSError, ValueError, KeyError):
        return False
    return any(item['kind'] == 'action server' and item['up'] for item in items)


def find_browser(args):
    chromium = args.chromium or shutil.which('chromium') or shutil.which('chromium-browser')
    driver = args.chromedriver or shutil.which('chromedriver')
    missing = []
    if not chromium or not os.access(chromium, os.X_OK):
        missing.append('chromium')
    if not driver or not os.access(driver, os.X_OK):
        missing.append('chromedriver')
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append('python3-selenium')
    return chromium, driver, missing


def open_browser(chromium, driver_path, driver_port, workdir):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                 '--no-first-run', '--disable-background-networking',
                 '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
                 '--window-size=1440,1240', '--user-data-dir=' + os.path.join(workdir, 'profile')):
        options.add_argument(flag)
    # Script errors and refused content show in the console.
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    service = Service(executable_path=driver_path, port=driver_port,
                      log_path=os.path.join(workdir, 'chromedriver.log'))
    return webdriver.Chrome(service=service, options=options)


def text_of(driver, css):
    from selenium.webdriver.common.by import By
    found = driver.find_elements(By.CSS_SELECTOR, css)
    return found[0].text.strip() if found else ''


def outcome_rows(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#outcomes tr')).map(function (tr) {"
        "  return {goal: tr.dataset.goalId, outcome: tr.querySelector('.o-outcome').textContent,"
        "          code: tr.querySelector('.o-code .mono').textContent,"
        "          picked: tr.querySelector('.o-picked').textContent}; });")


def check_result(driver, args):
    outcome = text_of(driver, '#task-outcome')
    code = text_of(driver, '#task-error-code')
    picked = text_of(driver, '#task-picked')
    log('page shows: outcome %r, error code %r, picked %r, phase %r'
        % (outcome, code, picked, text_of(driver, '#task-phase')))
    problems = []
    if outcome != args.expect_outcome:
        problems.append('outcome %r, expected %r' % (outcome, args.expect_outcome))
    if code != str(args.expect_error_code):
        problems.append('error code %r, expected %s' % (code, args.expect_error_code))
    if picked != str(args.expect_picked):
        problems.append('%r trashes picked, expected %d' % (picked, args.expect_picked))
    rows = outcome_rows(driver)
    if not rows or rows[0]['outcome'] != args.expect_outcome or \
            rows[0]['code'] != str(args.expect_error_code) or \
            rows[0]['picked'] != str(args.expect_picked):
        problems.append('the last tasks table does not agree: %r' % (rows[:1],))
    if problems:
        raise Failure('; '.join(problems))


def screenshot(driver, path):
    """The whole page, not only the window."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    # The window's outer size is not its viewport: grow it until the page fits.
    for _ in range(4):
        inner, full = driver.execute_script(
            'return [window.innerHeight, document.documentElement.scrollHeight];')
        if inner >= full:
            break
        size = driver.get_window_size()
        driver.set_window_size(1440, min(size['height'] + full - inner, 4000))
        time.sleep(0.3)  # let the page lay itself out at the new size
    driver.save_screenshot(path)
    log('screenshot: %s' % path)


def latency(driver, opened_ms):
    entries = driver.execute_script('return window.quorvelRenderLog || [];')
    live = [e['rendered_ms'] - e['stamp_ms'] for e in entries
            if not e['replay'] and e['stamp_ms'] >= opened_ms]
    return live


def run(args, workdir, programs):
    chromium, driver_path, missing = find_browser(args)
    if missing:
        print('SKIP: the browser test needs %s (not installed)' % ', '.join(missing), flush=True)
        return SKIP

    for index, command in enumerate(args.desk):
        programs.append(Program('desk%d' % (index + 1), desk_command(command), workdir))

    def start_dashboard(name):
        program = Program(name, [args.quorvel, 'dashboard', '--port', str(args.port)], workdir)
        programs.append(program)
        url = program.wait_for(r'^dashboard: (http://\S+)$', 20).group(1)
        log('%s serves %s' % (name, url))
        return program, url

    dashboard, url = start_dashboard('dashboard')
    if not url.startswith('http://127.0.0.1:%d/?token=' % args.port):
        raise Failure('unexpected address printed: %s' % url)
    wait_until('the action server shows up on the page\'s state',
               lambda: action_server_up(args.port), 40, 0.25)

    driver = open_browser(chromium, driver_path, args.port + 1, workdir)
    try:
        driver.set_page_load_timeout(20)
        driver.get('about:blank')

        task = Program('task', [args.quorvel, 'task', '--timeout', str(args.task_timeout)],
                       workdir)
        programs.append(task)
        task.wait_for(r'^goal accepted', 30)
        opened_ms = time.time() * 1000.0
        driver.get(url)
        log('page opened while the task runs')

        wait_until('the page is live', lambda: text_of(driver, '#link-text') == 'live', 10)
        wait_until('the page shows the task\'s result',
                   lambda: driver.execute_script(
                       "return !document.getElementById('task-result').hidden &&"
                       " document.querySelectorAll('#outcomes tr').length >= 1;"),
                   args.task_timeout, 0.2)
        status = task.wait_exit(30)
        if status != 0 or 'result: succeeded' not in task.text():
            raise Failure('quorvel task ended with %d:\n%s' % (status, task.tail()))
        check_result(driver, args)
        severe = [entry['message'] for entry in driver.get_log('browser')
                  if entry.get('level') == 'SEVERE']
        if severe:
            raise Failure('the page logged errors:\n' + '\n'.join(severe))

        if args.screenshot:
            screenshot(driver, args.screenshot)

        samples = latency(driver, opened_ms)
        if len(samples) < 3:
            raise Failure('only %d events arrived after the page opened' % len(samples))
        median = statistics.median(samples)
        log('dashboard_update_latency_ms: median %.1f ms over %d events (min %.1f, max %.1f)'
            % (median, len(samples), min(samples), max(samples)))
        if args.bench:
            print('BENCH dashboard_update_latency_ms %.1f ms' % median, flush=True)
            return 0
        if median > args.latency_limit_ms:
            raise Failure('median update latency %.1f ms, more than %d ms'
                          % (median, args.latency_limit_ms))

        # The button, with the token the page took from its own address.
        first_goal = outcome_rows(driver)[0]['goal']
        from selenium.webdriver.common.by import By
        wait_until('"Send task" is enabled',
                   lambda: driver.find_element(By.ID, 'send-task').is_enabled(), 10)
        driver.find_element(By.ID, 'send-task').click()
        wait_until('the page says the goal was accepted',
                   lambda: 'goal accepted' in text_of(driver, '#button-message'), 20)
        wait_until('the second task\'s outcome',
                   lambda: len(outcome_rows(driver)) >= 2 and
                   outcome_rows(driver)[0]['goal'] != first_goal, args.task_timeout, 0.2)
        second = outcome_rows(driver)[0]
        log('the task sent from the page ended: %s, error code %s' % (second['outcome'],
                                                                      second['code']))
        if args.screenshot:
            screenshot(driver, args.screenshot.replace('.png', '-second.png'))

        # The loss of the dashboard shows, and the page comes back by itself.
        dashboard.stop()
        if dashboard.process.returncode != 0:
            raise Failure('quorvel dashboard ended with %d on Ctrl-C'
                          % dashboard.process.returncode)
        wait_until('the page shows the disconnection',
                   lambda: driver.execute_script(
                       "return document.body.classList.contains('offline') &&"
                       " getComputedStyle(document.getElementById('banner')).display !="
                       " 'none';"), 10)
        if args.screenshot:
            screenshot(driver, args.screenshot.replace('.png', '-offline.png'))
        start_dashboard('dashboard2')
        wait_until('the page reconnects by itself',
                   lambda: text_of(driver, '#link-text') == 'live' and not driver.execute_script(
                       "return document.body.classList.contains('offline');"), 15)
        log('the page reconnected')
        return 0
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--quorvel', required=True, help='the quorvel program under test')
    parser.add_argument('--desk', action='append', default=[],
                        help='a program to start before the dashboard (repeat for each)')
    parser.add_argument('--port', type=int, required=True,
                        help='the dashboard\'s port; chromedriver takes the next one')
    parser.add_argument('--screenshot', help='PNG file for the page once the task ended')
    parser.add_argument('--bench', action='store_true',
                        help='print "BENCH dashboard_update_latency_ms" and stop there')
    parser.add_argument('--expect-outcome', default='succeeded')
    parser.add_argument('--expect-error-code', type=int, default=102300000)
    parser.add_argument('--expect-picked', type=int, default=3)
    parser.add_argument('--task-timeout', type=float, default=60)
    parser.add_argument('--latency-limit-ms', type=int, default=500)
    parser.add_argument('--chromium')
    parser.add_argument('--chromedriver')
    args = parser.parse_args()
    if 'ROS_DOMAIN_ID' not in os.environ:
        print('the browser test needs a ROS_DOMAIN_ID of its own', file=sys.stderr)
        return 1
    os.environ['ROS_LOCALHOST_ONLY'] = '1'
    os.environ.pop('CYCLONEDDS_URI', None)

    workdir = tempfile.mkdtemp(prefix='quorvel-browser-')
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
