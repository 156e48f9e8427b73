"""The Python client against a kpdev-sim process.

Run: python3 test_python_client.py /path/to/kpdev-sim  (PYTHONPATH=../python)
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

from kpdev_sim import HostPort, SimError, SimProcess  # noqa: E402

SIM = None

VERSION_REQUEST = bytes.fromhex("0230303033333131313030323003")
C003 = bytes.fromhex("023030303" "23C3030333C3303")
OK_ANSWER = bytes.fromhex("023030303230303030303003")


class PythonClientTest(unittest.TestCase):
    def setUp(self):
        self.sim = SimProcess(SIM, ["--version-hex", "010203040506"])
        self.control = self.sim.control()

    def tearDown(self):
        self.control.close()
        self.sim.terminate()

    def test_status_is_parsed_into_keys_and_numbers(self):
        status = self.control.status()
        self.assertEqual(status["family"], "t1")
        self.assertEqual(status["module"], "I")
        self.assertEqual(status.number("device_baud"), 9600)
        self.assertEqual(status["version"], "010203040506")
        with self.assertRaises(SimError):
            status.number("family")

    def test_exchange_on_the_wire_and_in_the_traffic_log(self):
        with HostPort(self.sim.port_path, 9600) as port:
            port.write(VERSION_REQUEST)
            answer = port.read(24, 2.0)
        # Status 0000, data 01..06, checksum 07.
        self.assertEqual(answer, bytes.fromhex("023030303830303030303130323033303430353036303703"))
        traffic = self.control.traffic()
        self.assertEqual(traffic.segments, [("H>D", VERSION_REQUEST), ("D>H", answer)])
        self.assertEqual(traffic.host_to_device, VERSION_REQUEST)
        self.assertEqual(traffic.host_noise, b"")
        self.control.clear()
        self.assertEqual(self.control.traffic().segments, [])

    def test_faults_shape_the_next_answer_and_bad_requests_raise(self):
        self.control.fault("status 6003")
        with HostPort(self.sim.port_path, 9600) as port:
            port.write(C003)
            self.assertEqual(port.read(12, 2.0), bytes.fromhex("023030303236303033363303"))
            port.write(C003)
            self.assertEqual(port.read(12, 2.0), OK_ANSWER)
        self.assertEqual(self.control.request("fault bogus"), "err unknown fault 'bogus'")
        with self.assertRaises(SimError):
            self.control.fault("delay soon")

    def test_quit_ends_the_process(self):
        self.control.quit()
        self.assertEqual(self.sim.wait(5.0), 0)


if __name__ == "__main__":
    SIM = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("KPDEV_SIM")
    if not SIM:
        sys.exit("usage: test_python_client.py PATH-TO-kpdev-sim")
    unittest.main(verbosity=2)
