#!/usr/bin/python3
"""quorvel fleet as an operator sees it: many arms, each on a ROS domain of its own, one page.

Starts `quorvel fleet` with a FLEET.yaml naming --arms arms (cell-01 ...) on the domains from
--first-domain on, then a desk (arm_sim and the real supervisor, stopped by their PIDs) on all of
them but the last. In the test (without --bench):
  - one arm's grab fails and leaves it abnormal (arm_fault), one arm moves fifty times slower
    than it should (a step waited for longer than the FLEET.yaml's wait_s), one runs a normal
    task, the others stand idle;
  - the page in headless Chromium puts those two alarms first, shows every desk live, shows the
    last arm live within seconds of its desk starting, and the normal task's steps on its tile;
  - a tile opens that arm's own page (served by the same process, with a way back), and a
    button there without the token is refused, as is a request naming another host;
  - a desk stopped goes silent on the page; Ctrl-C stops the fleet with status 0.
With --bench the fleet watches --domains FIRST-LAST, every desk runs chaos tasks back to back
(arm_sim_goals) and the test prints
BENCH lines: fleet_tile_latency_ms (an event's stamp to its tile on the page, median; and its
95th percentile, fleet_tile_latency_p95_ms),
fleet_rss_mb, fleet_discovery_s and fleet_idle_cpu_percent (the fleet process while every arm
is live and idle).

Exit status: 0 passed, 1 failed, 77 skipped (no chromium, chromedriver or selenium).
"""

import argparse
import http.client
import json
import os
import shutil
import signal
import statistics
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_dashboard_browser as base  # noqa: E402

Failure = base.Failure
log = base.log
wait_until = base.wait_until

PARAMS = '@share:quorvel_arm_supervisor@/config/arm_supervisor_params.yaml'
ABNORMAL = 6  # arm_fault: its grab fails and the arm stays abnormal
SLOW = 12     # an arm a hundred times slower than usual: a long wait
SLOW_SCENE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'slow_arm.yaml')
NORMAL = 3    # clear_table at four times the speed: its steps on its tile


def fleet_state(port):
    with urllib.request.urlopen('http://127.0.0.1:%d/api/fleet' % port, timeout=3) as response:
        return json.load(response)


def arms_by_index(port):
    try:
        return {arm['index']: arm for arm in fleet_state(port)['arms']}
    except (OSError, ValueError, KeyError):
        return {}


def request(port, method, path, headers=None, body=None):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=5)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read().decode(errors='replace')
    finally:
        connection.close()


def cpu_seconds(pid):
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def rss_mb(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) / 1024.0
    raise Failure('no VmRSS for pid %d' % pid)


class Fleet:
    """The desks of the arms and the fleet process."""

    def __init__(self, args, workdir, programs):
        self.args = args
        self.workdir = workdir
        self.programs = programs
        self.desks = {}

    def domain(self, index):
        return self.args.first_domain + index

    def env(self, index):
        return dict(os.environ, ROS_DOMAIN_ID=str(self.domain(index)))

    def start(self, name, command, index):
        program = base.Program(name, base.desk_command(command), self.workdir, self.env(index))
        self.programs.append(program)
        return program

    def start_desk(self, index, scene, sim_args=''):
        domain = self.domain(index)
        sim = self.start('sim%d' % domain,
                         'arm_sim --ros-args -p scene:=%s %s' % (scene, sim_args), index)
        supervisor = self.start('supervisor%d' % domain,
                                'arm_supervisor --ros-args --params-file %s' % PARAMS, index)
        self.desks[index] = (sim, supervisor)

    def stop_desk(self, index):
        for program in self.desks.pop(index):
            program.stop()


def stop_all(programs):
    """Ctrl-C to every program at once, then each one's own bounded stop."""
    for program in programs:
        if program.process.poll() is None:
            program.process.send_signal(signal.SIGINT)
    deadline = time.monotonic() + 8
    for program in programs:
        try:
            program.process.wait(timeout=max(0.1, deadline - time.monotonic()))
        except Exception:  # noqa: BLE001 - stop() below tries harder
            pass
    for program in reversed(programs):
        program.stop()


def tile_order(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#tiles .tile')).map(function (t) {"
        "  return Number(t.getAttribute('data-arm')); });")


def tile_live(driver, index):
    return driver.execute_script(
        "var t = document.querySelector('#tiles .tile[data-arm=\"%d\"]');"
        "return !!(t && t.querySelector('.tile-live-up'));" % index)


def tile_latencies(driver, since_ms, arms=None):
    # A tile is drawn again when its times move too: each event counts at its first drawing.
    entries = driver.execute_script('return window.quorvelFleetLog || [];')
    first = {}
    for e in entries:
        if e.get('event_ms') and e['event_ms'] >= since_ms and \
                (arms is None or e['arm'] in arms):
            key = (e['arm'], e['event_ms'])
            first[key] = min(first.get(key, e['at']), e['at'])
    return [at - event_ms for (_, event_ms), at in first.items()]


def server_latencies(driver, since_ms):
    """From an event's stamp to the fleet's state that first carried it (the server's part)."""
    entries = driver.execute_script('return window.quorvelFleetLog || [];')
    first = {}
    for e in entries:
        if e.get('event_ms') and e['event_ms'] >= since_ms and e.get('server_ms'):
            key = (e['arm'], e['event_ms'])
            first[key] = min(first.get(key, e['server_ms']), e['server_ms'])
    return [server_ms - event_ms for (_, event_ms), server_ms in first.items()]


def write_config(args, workdir):
    path = os.path.join(workdir, 'FLEET.yaml')
    with open(path, 'w') as f:
        f.write('# %d arms for the fleet test\n' % args.arms)
        f.write('alarms: {wait_s: %g, silent_s: %g}\n' % (args.wait_s, args.silent_s))
        f.write('arms:\n')
        for i in range(args.arms):
            f.write('  - {name: cell-%02d, domain: %d}\n' % (i + 1, args.first_domain + i))
    return path


def start_fleet(args, workdir, programs, which):
    fleet = base.Program('fleet', [args.quorvel, 'fleet'] + which + ['--port', str(args.port)],
                         workdir)
    programs.append(fleet)
    url = fleet.wait_for(r'^fleet: (http://\S+)$', 30).group(1)
    if not url.startswith('http://127.0.0.1:%d/?token=' % args.port):
        raise Failure('unexpected address printed: %s' % url)
    log('the fleet serves %s' % url)
    return fleet, url


def all_live(port, indices):
    arms = arms_by_index(port)
    return all(arms.get(i, {}).get('live') and arms[i].get('supervisor_up') for i in indices)


def run_test(args, workdir, programs, driver_factory):
    config = write_config(args, workdir)
    fleet_program, url = start_fleet(args, workdir, programs, ['--config', config])
    fleet = Fleet(args, workdir, programs)
    last = args.arms - 1
    for i in range(last):
        if i == ABNORMAL:
            fleet.start_desk(i, 'arm_fault')
        elif i == SLOW:
            fleet.start_desk(i, SLOW_SCENE)
        elif i == NORMAL:
            fleet.start_desk(i, 'clear_table', '-p speed:=4.0')
        else:
            fleet.start_desk(i, 'clear_table')
    wait_until('every desk but the last live on the fleet\'s state',
               lambda: all_live(args.port, range(last)), 90, 0.5)
    log('%d arms live' % last)

    tasks = {}
    for i in (ABNORMAL, SLOW):
        tasks[i] = fleet.start('task%d' % fleet.domain(i), '%s task --timeout 120' % args.quorvel,
                               i)
    for i in tasks:
        tasks[i].wait_for(r'^goal accepted', 30)

    driver = driver_factory()
    try:
        driver.set_page_load_timeout(20)
        driver.get(url)
        wait_until('the page is live',
                   lambda: base.text_of(driver, '#link-text') == 'live', 15)
        wait_until('a tile per arm', lambda: len(tile_order(driver)) == args.arms, 10)

        # The abnormal arm and the long wait first, whichever of the two is first, each with
        # its alarm on its tile.
        def alarms_first():
            order = tile_order(driver)
            alarmed = driver.execute_script(
                "return Array.from(document.querySelectorAll('#tiles .tile-alarm')).map("
                "  function (t) { return Number(t.getAttribute('data-arm')); });")
            return set(order[:2]) == {ABNORMAL, SLOW} and set(alarmed) == {ABNORMAL, SLOW} \
                and order
        order = wait_until('the abnormal arm and the long wait at the top', alarms_first,
                           args.wait_s + 40, 0.3)
        arms = arms_by_index(args.port)
        log('order: %s; alarms: %s / %s' % (
            order[:4], arms[ABNORMAL]['alarms'], arms[SLOW]['alarms']))
        if not any('abnormal' in a for a in arms[ABNORMAL]['alarms']):
            raise Failure('cell-%02d has no abnormal alarm: %r' % (ABNORMAL + 1, arms[ABNORMAL]))
        if not any('no step for' in a for a in arms[SLOW]['alarms']):
            raise Failure('cell-%02d has no alarm for its wait: %r' % (SLOW + 1, arms[SLOW]))

        # The last arm's desk starts while the page is open.
        started = time.monotonic()
        fleet.start_desk(last, 'clear_table')
        wait_until('the new arm live on the page', lambda: tile_live(driver, last), 30, 0.05)
        discovery_s = time.monotonic() - started
        log('fleet_discovery_s: the last arm live on the page %.2f s after its desk started'
            % discovery_s)

        # A task's steps on its tile, from each event's stamp.
        opened_ms = time.time() * 1000.0
        normal = fleet.start('task%d' % fleet.domain(NORMAL),
                             '%s task --timeout 90' % args.quorvel, NORMAL)
        status = normal.wait_exit(90)
        if status != 0 or 'result: succeeded' not in normal.text():
            raise Failure('the normal task ended with %d:\n%s' % (status, normal.tail()))
        wait_until('the normal task\'s end on its tile',
                   lambda: arms_by_index(args.port)[NORMAL]['last_result'] is not None, 10)
        time.sleep(0.5)
        samples = tile_latencies(driver, opened_ms, {NORMAL})
        if len(samples) < 5:
            raise Failure('only %d steps of the normal task reached its tile' % len(samples))
        median = statistics.median(samples)
        log('fleet_tile_latency_ms: median %.1f ms over %d steps (max %.1f)'
            % (median, len(samples), max(samples)))
        if median > args.latency_limit_ms:
            raise Failure('median tile latency %.1f ms, more than %d ms'
                          % (median, args.latency_limit_ms))

        severe = [entry['message'] for entry in driver.get_log('browser')
                  if entry.get('level') == 'SEVERE']
        if severe:
            raise Failure('the page logged errors:\n' + '\n'.join(severe))
        if args.screenshot:
            base.screenshot(driver, args.screenshot)

        # A tile opens that arm's own page, which knows its arm and the way back.
        from selenium.webdriver.common.by import By
        # Tiles are redrawn as their times move: find and click it in one step.
        driver.execute_script(
            "document.querySelector('#tiles .tile[data-arm=\"%d\"]').click();" % ABNORMAL)
        wait_until('the abnormal arm\'s own page',
                   lambda: '/arm/%d/' % ABNORMAL in driver.current_url and
                   base.text_of(driver, '#link-text') == 'live', 15)
        wait_until('its page names the arm',
                   lambda: 'cell-%02d' % (ABNORMAL + 1) in base.text_of(driver, '#brand-sub'), 10)
        wait_until('its page shows the arm abnormal',
                   lambda: 'abnormal' in base.text_of(driver, '#arm-state').lower(), 15)
        back = driver.find_element(By.ID, 'fleet-link').get_attribute('href')
        if not back.startswith('http://127.0.0.1:%d/?token=' % args.port):
            raise Failure('the way back to the fleet is %r' % back)
        log('the tile opened %s; back to %s' % (driver.current_url, back))
        if args.screenshot:
            base.screenshot(driver, args.screenshot.replace('.png', '-arm.png'))

        # The dashboard's safety on every arm's page.
        token = url.split('token=', 1)[1]
        status, body = request(args.port, 'POST', '/arm/%d/api/task' % NORMAL,
                               {'Content-Type': 'application/json'}, '{"cmd": 1}')
        if status != 403:
            raise Failure('a task without the token got %d: %s' % (status, body))
        status, body = request(args.port, 'GET', '/api/fleet', {'Host': 'fleet.example.com'})
        if status != 403:
            raise Failure('a request for another host got %d: %s' % (status, body))
        status, body = request(args.port, 'POST', '/arm/%d/api/cancel' % NORMAL,
                               {'X-Quorvel-Token': token})
        if status not in (200, 409):
            raise Failure('a cancel with the token got %d: %s' % (status, body))
        status, body = request(args.port, 'GET', '/arm/%d/api/state' % args.arms)
        if status != 404:
            raise Failure('an arm that is not in the fleet got %d' % status)
        log('without the token refused; another host refused; no arm %d' % args.arms)

        # A desk that stops goes silent.
        fleet.stop_desk(last)
        driver.get(url)
        wait_until('the stopped arm silent on the page',
                   lambda: len(tile_order(driver)) == args.arms and not tile_live(driver, last),
                   args.silent_s + 15, 0.25)
        log('the stopped desk went silent')
    finally:
        driver.quit()
    for task in tasks.values():
        task.stop()
    fleet_program.stop()
    if fleet_program.process.returncode != 0:
        raise Failure('quorvel fleet ended with %d on Ctrl-C' % fleet_program.process.returncode)
    return 0


def run_bench(args, workdir, programs, driver_factory):
    # As an operator starts it for a range of domains: arms named after them.
    fleet_program, url = start_fleet(
        args, workdir, programs,
        ['--domains', '%d-%d' % (args.first_domain, args.first_domain + args.arms - 1)])
    pid = fleet_program.process.pid
    fleet = Fleet(args, workdir, programs)
    last = args.arms - 1
    sim_args = '-p chaos_rate:=0.2 -p speed:=%.2f' % args.speed
    for i in range(last):
        fleet.start_desk(i, 'soak', sim_args + ' -p chaos_seed:=%d' % fleet.domain(i))
    wait_until('every desk but the last live', lambda: all_live(args.port, range(last)),
               120, 0.5)
    time.sleep(3)
    before = cpu_seconds(pid)
    time.sleep(args.idle_s)
    idle_cpu = 100.0 * (cpu_seconds(pid) - before) / args.idle_s

    driver = driver_factory()
    try:
        driver.set_page_load_timeout(20)
        driver.get(url)
        wait_until('a tile per arm', lambda: len(tile_order(driver)) == args.arms, 15)
        started = time.monotonic()
        fleet.start_desk(last, 'soak', sim_args + ' -p chaos_seed:=%d' % fleet.domain(last))
        wait_until('the new arm live on the page', lambda: tile_live(driver, last), 60, 0.05)
        discovery_s = time.monotonic() - started
        wait_until('the new arm\'s supervisor', lambda: all_live(args.port, [last]), 60, 0.25)

        opened_ms = time.time() * 1000.0
        for i in range(args.arms):
            fleet.start('goals%d' % fleet.domain(i),
                        'arm_sim_goals --duration %g --goal-timeout 120 --server-timeout 30'
                        % args.run_s, i)
        time.sleep(args.run_s * 0.5)
        rss = rss_mb(pid)
        time.sleep(args.run_s * 0.5)
        samples = tile_latencies(driver, opened_ms)
        served = sorted(server_latencies(driver, opened_ms))
        if served:
            log('the fleet\'s part: median %.1f ms, 95th %.1f ms' % (
                served[len(served) // 2], served[int(len(served) * 0.95)]))
        if len(samples) < args.arms:
            raise Failure('only %d steps reached the tiles' % len(samples))
        if args.screenshot:
            base.screenshot(driver, args.screenshot)
    finally:
        driver.quit()
    median = statistics.median(samples)
    p95 = sorted(samples)[int(len(samples) * 0.95)]
    log('%d arms: tile latency median %.1f ms, 95th %.1f ms over %d steps; rss %.1f MB; '
        'discovery %.2f s; idle cpu %.2f %%' % (args.arms, median, p95, len(samples), rss,
                                                 discovery_s, idle_cpu))
    suffix = '' if args.arms == 20 else '_%darms' % args.arms
    print('BENCH fleet_tile_latency_ms%s %.1f ms' % (suffix, median), flush=True)
    print('BENCH fleet_tile_latency_p95_ms%s %.1f ms' % (suffix, p95), flush=True)
    print('BENCH fleet_rss_mb%s %.1f MB' % (suffix, rss), flush=True)
    print('BENCH fleet_discovery_s%s %.2f s' % (suffix, discovery_s), flush=True)
    print('BENCH fleet_idle_cpu_percent%s %.2f %%' % (suffix, idle_cpu), flush=True)
    fleet_program.stop()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--quorvel', required=True, help='the quorvel program under test')
    parser.add_argument('--arms', type=int, default=20)
    parser.add_argument('--first-domain', type=int, required=True)
    parser.add_argument('--port', type=int, required=True,
                        help='the fleet\'s port; chromedriver takes the next one')
    parser.add_argument('--screenshot', help='PNG file for the fleet page')
    parser.add_argument('--wait-s', type=float, default=4.0)
    parser.add_argument('--silent-s', type=float, default=5.0)
    parser.add_argument('--latency-limit-ms', type=int, default=500)
    parser.add_argument('--bench', action='store_true', help='chaos on every arm; BENCH lines')
    parser.add_argument('--run-s', type=float, default=40.0, help='with --bench: tasks for so long')
    parser.add_argument('--idle-s', type=float, default=10.0)
    parser.add_argument('--speed', type=float, default=1.0)
    parser.add_argument('--chromium')
    parser.add_argument('--chromedriver')
    args = parser.parse_args()
    if not args.bench and args.arms < SLOW + 2:
        print('the test needs at least %d arms' % (SLOW + 2), file=sys.stderr)
        return 1
    os.environ['ROS_LOCALHOST_ONLY'] = '1'
    os.environ.pop('CYCLONEDDS_URI', None)
    os.environ.pop('ROS_DOMAIN_ID', None)

    chromium, driver_path, missing = base.find_browser(args)
    if missing:
        print('SKIP: the fleet browser test needs %s (not installed)' % ', '.join(missing),
              flush=True)
        return base.SKIP
    workdir = tempfile.mkdtemp(prefix='quorvel-fleet-')
    programs = []
    status = 1

    def driver_factory():
        return base.open_browser(chromium, driver_path, args.port + 1, workdir)
    try:
        status = (run_bench if args.bench else run_test)(args, workdir, programs, driver_factory)
    except Failure as failure:
        log('FAIL: %s' % failure)
    except Exception as error:  # selenium and OS errors: report them as a failure
        log('FAIL: %s: %s' % (type(error).__name__, error))
    finally:
        stop_all(programs)
        if status == 1:
            for program in programs:
                if program.name.startswith(('fleet', 'task')) or \
                        program.name.endswith(('%d' % (args.first_domain + ABNORMAL),
                                               '%d' % (args.first_domain + SLOW))):
                    print('----- %s (last 30 lines) -----\n%s' % (program.name, program.tail()))
            log('logs kept in %s' % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    if status == 0:
        log('passed')
    return status


if __name__ == '__main__':
    sys.exit(main())
