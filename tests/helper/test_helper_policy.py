#!/usr/bin/python3
"""The helper's polkit actions as Debian's polkitd reads them.

polkitd runs on a private system bus in a private mount namespace, where its actions folder
holds only the helper's policy and its rules folders only this test's rules; the subject is a
process of nobody. Usage:
    test_helper_policy.py POLICY [TEST...]
Needs root (skips otherwise); enters a mount namespace of its own.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

POLICY = sys.argv[1] if len(sys.argv) >= 2 else None
POLKITD = '/usr/lib/polkit-1/polkitd'
NOBODY = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups', '--']

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

# nobody may change routes, or store persistent routes, without asking.
RULE = """polkit.addRule(function(action, subject) {
    if (action.id == "%s" && subject.user == "nobody")
        return polkit.Result.YES;
});
"""


class Policy(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix='corvane-policy-')
        os.chmod(cls.tmp, 0o755)
        actions = os.path.join(cls.tmp, 'actions')
        cls.rules = os.path.join(cls.tmp, 'rules')
        empty = os.path.join(cls.tmp, 'empty')
        for d in (actions, cls.rules, empty):
            os.mkdir(d, 0o755)
        shutil.copy(POLICY, os.path.join(actions, 'org.corvane.policy'))
        # Only in this mount namespace.
        for source, target in ((actions, '/usr/share/polkit-1/actions'),
                               (cls.rules, '/etc/polkit-1/rules.d'),
                               (empty, '/usr/share/polkit-1/rules.d')):
            if os.path.isdir(target):
                subprocess.run(['mount', '--bind', source, target], check=True)
        socket = os.path.join(cls.tmp, 'bus')
        conf = os.path.join(cls.tmp, 'bus.conf')
        with open(conf, 'w') as f:
            f.write(BUS_CONFIG.format(socket=socket))
        cls.bus = subprocess.Popen(['dbus-daemon', '--config-file=' + conf, '--nofork',
                                    '--print-address'], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        cls.address = cls.bus.stdout.readline().strip()
        cls.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=cls.address)
        cls.subject = subprocess.Popen(NOBODY + ['sleep', '300'])
        cls.polkitd = None

    @classmethod
    def tearDownClass(cls):
        cls.stop_polkitd()
        for p in (cls.subject, cls.bus):
            p.terminate()
            p.wait(10)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def stop_polkitd(cls):
        if cls.polkitd and cls.polkitd.poll() is None:
            cls.polkitd.terminate()
            cls.polkitd.wait(10)

    def start_polkitd(self, *allowed):
        """polkitd anew, with a rule that lets nobody do each allowed action."""
        self.stop_polkitd()
        for name in os.listdir(self.rules):
            os.unlink(os.path.join(self.rules, name))
        for i, action in enumerate(allowed):
            path = os.path.join(self.rules, '%02d-test.rules' % i)
            with open(path, 'w') as f:
                f.write(RULE % action)
            os.chmod(path, 0o644)
        type(self).polkitd = subprocess.Popen([POLKITD, '--no-debug'], env=self.env,
                                              stdout=subprocess.DEVNULL,
                                              stderr=subprocess.DEVNULL)
        for _ in range(100):
            r = subprocess.run(['busctl', '--address=' + self.address, '--timeout=2', 'call',
                                'org.freedesktop.DBus', '/org/freedesktop/DBus',
                                'org.freedesktop.DBus', 'NameHasOwner', 's',
                                'org.freedesktop.PolicyKit1'], capture_output=True, text=True,
                               env=self.env, timeout=10)
            if r.stdout.strip() == 'b true':
                return
            time.sleep(0.05)
        self.fail('polkitd did not take its name')

    def check(self, action, *args, timeout=10):
        return subprocess.run(['pkcheck', '--action-id', action, '--process',
                               str(self.subject.pid), *args], capture_output=True, text=True,
                              env=self.env, timeout=timeout).returncode

    def test_route_changes_imply_storing_persistent_routes(self):
        self.start_polkitd('org.corvane.routes')
        self.assertEqual(self.check('org.corvane.routes'), 0)
        self.assertEqual(self.check('org.corvane.persistent-routes'), 0)
        # Nothing else comes with it, and without the rule nothing at all.
        self.assertNotEqual(self.check('org.corvane.addresses'), 0)
        self.start_polkitd()
        self.assertNotEqual(self.check('org.corvane.persistent-routes'), 0)

    def test_storing_routes_implies_no_route_change(self):
        self.start_polkitd('org.corvane.persistent-routes')
        self.assertEqual(self.check('org.corvane.persistent-routes'), 0)
        self.assertNotEqual(self.check('org.corvane.routes'), 0)

    def test_the_agent_is_told_what_will_change(self):
        self.start_polkitd()
        typescript = os.path.join(self.tmp, 'agent.out')
        # A text agent for the subject, on a terminal of its own.
        agent = subprocess.Popen(['script', '-qfec', 'pkttyagent --process %d' % self.subject.pid,
                                  typescript], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            shown = ''
            for _ in range(3):
                time.sleep(0.5)
                try:
                    self.check('org.corvane.routes', '--allow-user-interaction', '--detail',
                               'corvane.change', 'add route 10.0.0.0/8 via 192.168.1.1 on eth0',
                               timeout=3)
                except subprocess.TimeoutExpired:
                    pass  # the agent waits for a password nobody types
                with open(typescript, errors='replace') as f:
                    shown = f.read()
                if 'AUTHENTICATING' in shown:
                    break
            self.assertIn('Authentication is required to add route 10.0.0.0/8 via 192.168.1.1 '
                          'on eth0.', shown)
        finally:
            agent.terminate()
            agent.wait(10)


if __name__ == '__main__':
    if os.geteuid() != 0:
        print('needs root: skipped')
        sys.exit(77)
    if not os.path.exists(POLKITD):
        print('polkitd is not installed (scripts/deps.sh installs it)')
        sys.exit(1)
    if os.environ.get('CORVANE_POLICY_TEST_NS') != '1':
        os.environ['CORVANE_POLICY_TEST_NS'] = '1'
        os.execvp('unshare', ['unshare', '-m', '--propagation', 'private', '--',
                              '/usr/bin/python3', *sys.argv])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
