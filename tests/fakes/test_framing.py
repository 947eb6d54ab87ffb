"""The framing library against bytes worked out by hand from the field tables, and its
listener over a real loopback socket."""

import socket
import time
import unittest

import framing

# The same golden frames are checked against the client's packer.
LOOKUP_ALPHA = bytes([0x00, 0x07, 0x18, 0x05]) + b"alpha"
WORLD_LOGIN = bytes([0x05, 0x12, 0x34, 0x14, 0x12, 0x34, 0x56, 0x78])
SET_ATTRIBUTES = bytes([0x00, 0x06, 0x17, 0x00, 0x01, 0x37, 0x01, 0x00])
WORLD_POSITION = bytes([0x00, 0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02,
                        0x00, 0x00, 0x03, 0xE8, 0x0E, 0x0F, 0x03, 0x00])
WORLD_ADDRESS_REPLY = bytes([0x00, 0x0E, 0x00, 0x00, 0x05]) + b"alpha" + bytes(
    [0x7F, 0x00, 0x00, 0x01, 0x1A, 0x0E])


class Encoding(unittest.TestCase):
    def test_golden_requests(self):
        self.assertEqual(LOOKUP_ALPHA, framing.request(24, framing.string("alpha")))
        self.assertEqual(WORLD_LOGIN, framing.world_login(0x1234, 20, 0x12345678))
        self.assertEqual(SET_ATTRIBUTES,
                         framing.request(23, framing.tagged(0, "7"), framing.tagged(1, "")))
        self.assertEqual(WORLD_POSITION, framing.request(
            8, framing.int32(-1), framing.int32(2), framing.int32(1000), framing.int16(3599),
            framing.byte(3), framing.byte(0)))

    def test_golden_universe_reply(self):
        self.assertEqual(WORLD_ADDRESS_REPLY, framing.universe_reply(
            0, 0, framing.string("alpha"), framing.int32(0x7F000001), framing.int16(6670)))

    def test_world_reply_has_no_result_byte(self):
        self.assertEqual(bytes([0x00, 0x03, 0x03, 0x00, 0x2A]), framing.world_reply(3, framing.int16(42)))

    def test_null_string_and_limits(self):
        self.assertEqual(b"\x00", framing.string(None))
        self.assertEqual(256, len(framing.string("a" * 255)))
        with self.assertRaises(framing.FramingError):
            framing.string("a" * 256)
        with self.assertRaises(framing.FramingError):
            framing.frame(bytes(8097))
        self.assertEqual(b"\x1f\xa1", framing.frame(bytes(8097), check=False)[:2])


class Decoding(unittest.TestCase):
    def test_reader_cuts_split_and_joined_frames(self):
        reader = framing.FrameReader()
        data = LOOKUP_ALPHA + SET_ATTRIBUTES + framing.frame(b"")
        got = []
        for piece in framing.split(data, [1, 3, 9, 2]):
            got += reader.feed(piece)
        self.assertEqual([("frame", LOOKUP_ALPHA[2:]), ("frame", SET_ATTRIBUTES[2:]), ("frame", b"")], got)

    def test_world_login_then_frames(self):
        reader = framing.FrameReader(world_login=True)
        got = reader.feed(WORLD_LOGIN[:5])
        self.assertEqual([], got)
        got = reader.feed(WORLD_LOGIN[5:] + framing.request(6))
        self.assertEqual([("login", WORLD_LOGIN), ("frame", b"\x06")], got)

    def test_oversized_frame_is_refused(self):
        with self.assertRaises(framing.FramingError):
            framing.FrameReader().feed(b"\x1f\xa1" + bytes(10))

    def test_fields(self):
        f = framing.Fields(WORLD_ADDRESS_REPLY[2:])
        self.assertEqual((0, 0), (f.byte(), f.byte()))
        self.assertEqual(b"alpha", f.string())
        self.assertEqual(0x7F000001, f.int32())
        self.assertEqual(6670, f.int16())
        self.assertTrue(f.at_end())
        with self.assertRaises(framing.FramingError):
            f.byte()


class Loopback(unittest.TestCase):
    def test_records_frames_and_sends_parts_and_closes(self):
        listener = framing.Listener()
        client = socket.create_connection(("127.0.0.1", listener.port), timeout=5)
        conn = listener.accept(timeout=5)
        self.assertIsNotNone(conn)
        for piece in framing.split(LOOKUP_ALPHA + SET_ATTRIBUTES, [3, 4]):
            client.sendall(piece)
            time.sleep(0.02)
        self.assertTrue(conn.wait_frames(2))
        self.assertEqual([("frame", LOOKUP_ALPHA[2:]), ("frame", SET_ATTRIBUTES[2:])], conn.frames)
        conn.send_parts(framing.split(WORLD_ADDRESS_REPLY, [1, 5]), gap=0.01)
        got = b""
        while len(got) < len(WORLD_ADDRESS_REPLY):
            got += client.recv(100)
        self.assertEqual(WORLD_ADDRESS_REPLY, got)
        conn.close()
        self.assertEqual(b"", client.recv(10))
        client.close()
        listener.close()


if __name__ == "__main__":
    unittest.main()
