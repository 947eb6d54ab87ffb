"""Writes the seed corpora of the reply fuzzers with the fake servers' own encoders.

  python3 fuzz/servers/make_seeds.py
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tests", "fakes"))
import framing  # noqa: E402
import universe  # noqa: E402
import world  # noqa: E402

U = framing.universe_reply
s, b, i16, i32, tg = framing.string, framing.byte, framing.int16, framing.int32, framing.tagged

universe_seeds = {
    "worlds": U(0, universe.R_WORLDS, s("fuzz"), b(1), i16(3), s("other"), b(2), i16(0)),
    "attributes": U(0, universe.R_ATTRIBUTES, tg(0, "100"), tg(1, "200"), tg(3, "fuzz"), tg(4, "fuzz")),
    "telegram_waiting": U(0, universe.R_TELEGRAM_WAITING),
    "telegram": U(0, universe.R_TELEGRAM, i32(60), s("bob"), s("hello there"), b(0)),
    "citizen_number": U(0, universe.R_CITIZEN_NUMBER, s("bob"), i32(12)),
    "citizen_name": U(0, universe.R_CITIZEN_NAME, i32(12), s("bob")),
    "contacts": U(0, universe.R_CONTACTS, i32(12), b(1), s("bob"), s("fuzz"), i32(13), b(0), s("carol"), i32(14), b(2)),
    "join_request": U(0, universe.R_JOIN_REQUEST, i32(12), s("bob")),
    "whos_at": U(0, universe.R_WHOS_AT, framing.raw(bytes([127, 0, 0, 1])), s("bob")),
    "refused_number": U(3, universe.R_CITIZEN_NUMBER, s("nobody")),
    "two_in_one": U(0, universe.R_TELEGRAM_WAITING) + U(0, universe.R_WORLDS, s("fuzz"), b(1), i16(1)),
    "cut_login": U(0, universe.R_LOGIN, b(0), i32(100), i32(0))[:-2],
}

W = framing.world_reply
world_seeds = {
    "attributes": W(world.R_ATTRIBUTES, world.attribute_block([[0, "Fuzz World"], [11, "255 0 0"], [25, "Welcome"]])),
    "avatar": world.avatar_reply({"session": 3, "name": "carol", "x": 100, "y": 0, "z": -200, "yaw": 900, "type": 1}),
    "cell": world.cell_reply({"x": 1, "z": -1, "objects": [
        {"number": 5, "owner": 7, "x": 10, "y": 0, "z": 20, "yaw": 450, "model": "rock.vxx", "description": "d",
         "action": "create color red; activate sound x.wav"}]}, 3),
    "live_add": world.live_add_reply({"session": 2, "sequence": 9, "cx": 0, "cz": 0, "number": 6, "owner": 7,
                                      "x": 1, "y": 2, "z": 3, "model": "tree.vxx", "action": "create sign hi"}),
    "live_delete": world.live_delete_reply({"session": 2, "sequence": 10, "cx": 0, "cz": 0, "number": 1}),
    "chat": W(world.R_CHAT, i16(2), s("hello from bob")),
    "public_message": W(world.R_AVATAR_MESSAGE, i16(2), s("everyone, hello")),
    "query_done": W(world.R_QUERY_DONE) + W(world.R_KEEPALIVE),
    "oversized_length": framing.int16(9000) + b"\x01" * 16,
}

for folder, seeds in (("universe_corpus", universe_seeds), ("world_corpus", world_seeds)):
    os.makedirs(os.path.join(here, folder), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(here, folder, name + ".bin"), "wb") as f:
            f.write(data)


def bodies(data):
    """The bodies of the whole frames in data (a frame longer than the client takes ends it)."""
    out = []
    while len(data) >= 2:
        n = (data[0] << 8) | data[1]
        if n > framing.MAX_MESSAGE or len(data) < 2 + n:
            break
        out.append(data[2:2 + n])
        data = data[2 + n:]
    return out


def write(folder, name, data):
    os.makedirs(os.path.join(here, folder), exist_ok=True)
    with open(os.path.join(here, folder, name + ".bin"), "wb") as f:
        f.write(data)


# The dispatch targets take one message body each; the old protocol's also a first byte that
# picks the request the reply answers (0 attributes, 1 eject, 2 delete).
for folder, seeds in (("universe_dispatch_corpus", universe_seeds), ("world_dispatch_corpus", world_seeds)):
    for name, data in seeds.items():
        for n, body in enumerate(bodies(data)):
            write(folder, name + ("_%d" % n if n else ""), body)
old = os.path.join(here, "old_world_corpus")
for entry in sorted(os.listdir(old)):
    with open(os.path.join(old, entry), "rb") as f:
        data = f.read()
    for n, body in enumerate(bodies(data)):
        for kind in (0, 1, 2):
            write("old_world_dispatch_corpus", "%s_%d_%d" % (entry[:-4], n, kind), bytes([kind]) + body)
