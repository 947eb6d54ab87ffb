"""What each module of the system shows in the tour's trace log, by checkpoint.

Each row: (checkpoint, module, what, regex on the trace log[, after]). The regex must match a
line of the log; with "after", a line past the first line matching that anchor. Tour.check adds
the rows of its checkpoint to the checkpoint's own checks, so a module whose effect is missing
fails the checkpoint that shows it.
"""
import re

# The engine counts the polygons it hands to the driver; the program traces them every few
# seconds as bank.slot.position=count (bank 1 draws with the depth buffer, slots 20-23 are the
# textured render modes, whose position in the triangle handler table follows the mode byte).
def drawn(slots, positions=None):
    """A trace line of render counts with one of the slots (and positions) drawn."""
    s = "|".join(str(v) for v in slots)
    p = r"\d+" if positions is None else "(?:%s)" % "|".join(str(v) for v in positions)
    return r"scene_render_counts:.* [01]\.(?:%s)\.%s=[1-9]" % (s, p)


ENTERED = "world entered, objects drawn"
SHOWCASE = "render showcase rows drawn"
WALKING = "another user walks, posed by their sequence"
GARDEN = "the garden world has its own colours"
SETTINGS = "the settings sheet opens"

ROWS = [
    # Client core and server connections.
    (ENTERED, "lifecycle", "the start-up steps ran in order", r"init_application"),
    (ENTERED, "lifecycle", "the instance started after the application", r"init_instance", r"init_application"),
    (ENTERED, "frame", "the frame state machine reached the 3D start", r"tessel_start_3d"),
    (ENTERED, "frame", "the task table runs the modules' updates", r"^\d+: download_update$"),
    (ENTERED, "log", "the trace log writes tick-stamped lines", r"^\s*\d+: log_init|^\s*\d+: version"),
    (ENTERED, "profile", "settings were read from tessel.ini", r"profile_string \(universe, host\)"),
    (ENTERED, "profile", "the password was read enciphered", r"profile_encrypted_string \(citizen, pass\)"),
    (ENTERED, "msg", "message texts were looked up", r"^\s*\d+: msg \(\d+\): \S"),
    (ENTERED, "helpers", "dates of cached files were read and formatted", r"http_date"),
    (ENTERED, "message", "the universe's login reply was read from its packed fields", r"login_result \(0\)"),
    (ENTERED, "universe", "the universe connection logged in", r"universe_login \(demo\)"),
    (ENTERED, "attributes", "the world's attributes were applied", r"world_apply_attributes"),
    (ENTERED, "login", "the citizen logged in automatically", r"login_auto"),
    (ENTERED, "teleport", "the start-up teleport chain took the default world", r"teleport \(demo,"),
    (ENTERED, "about", "the splash box showed during start-up and went", r"about_hide", r"about_show"),
    (ENTERED, "identity", "the citizen's name and password were taken", r"profile_string \(citizen, name\)"),
    # Object transfer and cache.
    (ENTERED, "download", "objects were queued for download", r"download_file \(models, "),
    (ENTERED, "http", "the object server was asked", r"http_get \(127\.0\.0\.1"),
    (ENTERED, "unzip", "zipped models were unpacked", r"unzip_memory"),
    (ENTERED, "image", "downloaded pictures were converted", r"image_convert"),
    (ENTERED, "bmp", "converted pictures were written as bitmaps", r"BMP file size"),
    (ENTERED, "database", "the object cache's keyed file was opened", r"database_open"),
    (ENTERED, "chunk", "models went into the chunk cache", r"chunk_load|create_chunk"),
    (ENTERED, "disk", "the disk cache's limits are kept", r"disk_init"),
    (ENTERED, "keyfile", "keyed files were opened or made", r"database_open \(.*/model\)"),
    (ENTERED, "keyfile index", "keys were looked up and added in the index", r", AddKey: 0,", r", GetKey: "),
    (ENTERED, "keyfile records", "fixed-length records were written", r", WriteData: 0,"),
    (ENTERED, "keyfile records", "variable-length records were written", r", WriteVData: 0,"),
    (ENTERED, "keyfile record layer", "cached records were read back", r", ReadV?Data: 0,"),
    # The world scene.
    (ENTERED, "cell", "cells arrived and were taken in", r"cell_update_end"),
    (ENTERED, "visible", "the visibility scheduler walked the cell sequence", r"cell_sector_sequence"),
    (ENTERED, "element", "elements were added to the cells", r"cell_element_add"),
    (ENTERED, "prop", "the world was asked for its objects", r"world_query"),
    (ENTERED, "collide", "the own movement is tested for collisions", r"^\s*\d+: bump$"),
    (ENTERED, "scene", "the scene was made", r"scene_init: 0x"),
    (ENTERED, "camera", "the camera follows the own avatar", r"self_init"),
    (ENTERED, "model", "models were referenced for the objects", r"model_reference \(models, tree\.vxx"),
    (ENTERED, "texture", "textures were fetched", r"texture_download"),
    (ENTERED, "modelfile", "model files were read into clumps", r"VxAddClumpToScene"),
    (ENTERED, "backdrop", "the backdrop and ground were set", r"backdrop_set"),
    (ENTERED, "backdrop", "the ground was set", r"ground_set"),
    (ENTERED, "display", "the display depth was chosen", r"profile_int \(display, depth\)"),
    (ENTERED, "driver", "the display driver was opened", r"driver_init|load_driver"),
    (ENTERED, "driver", "the driver draws with the depth buffer", r"scene_render_counts:.* 1\.\d+\.\d+=[1-9]"),
    (ENTERED, "bitmap", "small pictures were read and enlarged", r"bitmap_resample"),
    (ENTERED, "engine", "the engine handed polygons to the driver", drawn(range(24))),
    # The rasteriser, through what the engine handed it.
    (SHOWCASE, "driver point modes", "points were drawn", drawn([0, 1])),
    (SHOWCASE, "driver polygon modes", "untextured polygons were drawn", drawn([12, 13])),
    (SHOWCASE, "driver stipple polygons", "see-through untextured polygons were drawn", drawn([14, 15])),
    (SHOWCASE, "driver line modes", "outlines and polylines were drawn", drawn([4, 5, 8, 9])),
    (SHOWCASE, "driver render modes", "the render-mode table reached its textured modes", drawn([20])),
    (SHOWCASE, "triangle handlers", "textured fans were drawn", drawn([20, 21, 22, 23])),
    (SHOWCASE, "affine handlers", "affine textured triangles were drawn", drawn([20], [0, 1])),
    (SHOWCASE, "stipple handlers", "see-through affine textured triangles were drawn", drawn([22, 23], [0, 1, 4, 5])),
    (SHOWCASE, "smooth handlers", "smooth-shaded affine textured triangles were drawn", drawn([21, 23], [1, 5])),
    (SHOWCASE, "perspective stipple handlers", "see-through perspective triangles were drawn",
     drawn([22], [2, 3, 6, 7])),
    (SHOWCASE, "fixed perspective stipple handlers", "see-through depth-tested perspective triangles",
     r"scene_render_counts:.* 1\.23\.(?:2|3|6|7)=[1-9]"),
    (SHOWCASE, "texel dither handlers", "dithered affine triangles were drawn", drawn([20], [4, 5])),
    (SHOWCASE, "fixed perspective handlers", "dithered perspective triangles were drawn", drawn([20, 21], [6, 7])),
    (SHOWCASE, "float perspective handlers", "perspective triangles were drawn", drawn([20, 21], [2, 3])),
    (SHOWCASE, "vertex transform", "vertices were transformed and clipped for every mode", drawn(range(24))),
    (SHOWCASE, "span fillers", "flat and affine rows were filled", drawn([12, 20], [0, 1])),
    (SHOWCASE, "fixed perspective span fillers", "fixed-point perspective rows were filled", drawn([20, 21], [6, 7])),
    (SHOWCASE, "float perspective span fillers", "float perspective rows were filled", drawn([20, 21], [2, 3])),
    (SHOWCASE, "driver image conversion", "pictures became texture rasters", r"chunk_save_texture"),
    (GARDEN, "colour matcher", "the garden's sky colour was applied", r"world_apply_attributes",
     r"universe_lookup_world \(garden\)"),
    # Avatars and their animation.
    (WALKING, "avatar", "the world's avatar list was read", r"avatar_list_load \(.*\): [1-9]\d* avatars"),
    (WALKING, "avatar", "the walker came near and was given its body", r"avatar: make_near \(walker"),
    (WALKING, "vrml parser", "the walker's VRML body was parsed and built", r"vrml_load_clump \(.*walker.*\): built"),
    (WALKING, "anim", "the walk sequence was fetched for the walker", r"download_file \(seqs, walk\.zip\)"),
    # The shell.
    ("the worlds tab lists the universe's worlds", "worlds", "the universe sent its world list",
     r"worlds_receive_list \(0, [1-9]"),
    ("the toolbar's back button returns", "history", "the toolbar's button went back", r"menu_handle \(107\)"),
    ("the contacts tab shows the guide", "contacts", "the contact list was read and asked for",
     r"universe_contact_list", r"contacts_init"),
    (ENTERED, "focus", "the focus caption follows the view", r"^\s*\d+: focus_update$", r"focus_init"),
    (SETTINGS, "menu", "the menu command reached its handler", r"menu_handle \(150\)"),
    ("the arrow key walks", "self", "the own position went to the world", r"world_position", r"menu_handle \(107\)"),
    ("the console's lines wear their colours", "color", "the console's kinds of lines were written",
     r"msg \(61\)"),
    ("the meters and the clock show in the status bar", "meters", "the frame rate was shown",
     r"status_change \(0x[0-9a-f]+, [0-9.]+ fps\)", r"menu_handle \(121\)"),
    ("the meters and the clock show in the status bar", "meters", "the transfer rate was shown",
     r"status_change \(0x[0-9a-f]+, [0-9.]+ KB/s\)", r"menu_handle \(122\)"),
    ("the meters and the clock show in the status bar", "meters", "the world's clock was shown",
     r"status_change \(0x[0-9a-f]+, .* VRT\)", r"menu_handle \(141\)"),
    ("the garden's stone runs its animation", "animate", "the stone's action made its animation",
     r"animation_create \(ember, 2, 2, 700\)"),
    ("the garden's stone runs its animation", "animate", "its images were fetched", r"http_get \(.*ember2\.jpg\)"),
    ("a right click selects an object and shows its properties", "pick", "the right click picked in the view",
     r"pick_at", r"viewport_right_click"),
    ("a right click selects an object and shows its properties", "pdialog", "the properties dialog was filled",
     r"pdialog_enable complete", r"viewport_right_click"),
    ("the builder moves and turns the object", "pick", "the object moved away and turned",
     r"pick_command \(116\)", r"pick_command \(112\)"),
    ("the builder moves and turns the object", "prop", "the change went to the world", r"world_change",
     r"pick_command \(116\)"),
    ("the world features dialog opens", "features", "the world's features dialog ran", r"worldopts_dialog"),
    ("the universe dialog opens", "features", "the universe's dialog ran", r"admin_universe"),
    ("the citizen's attributes dialog opens", "immigrate", "the citizen's attributes were asked for and shown",
     r"immigrate_show_attributes \(0\)", r"immigrate \(1\)"),
    ("the privilege dialog opens", "privilege", "the privilege dialog ran", r"privilege_dialog"),
    ("the privilege dialog opens", "prompt", "the privilege password was read for its prompt",
     r"profile_encrypted_string \(privilege, password\)", r"privilege_dialog"),
    ("the sign-up dialog opens", "signup", "a new citizenship goes to the sign-up form", r"register_dialog",
     r"immigrate \(0\)"),
    ("the remembered teleports dialog opens", "teleport", "the teleport dialog ran", r"menu_handle \(128\)"),
    ("the download window opens", "download", "the download window was toggled", r"download_toggle"),
    ("the about box opens", "about", "the about box was shown", r"about_show", r"menu_handle \(102\)"),
    ("a second start hands its command file over", "cgi", "the running program read the handed file",
     r"cgi: teleport teleport garden 0\.3s 0\.1e$", r"cgi: load_command"),
    ("a second start hands its command file over", "teleport", "and teleported where it says",
     r"teleport \(garden, -0\.10, [0-9.]+, -0\.30", r"cgi: load_command"),
    ("the contacts' menu asks to join the guide", "join", "the join request went to the universe",
     r"universe_get_citizen_location", r"join \(guide, 102\)"),
    ("the contacts' menu asks to join the guide", "join", "the universe's answer took the user there",
     r"teleport \(garden, ", r"join_receive_location \(0, 102\)"),
    ("the program shuts down", "lifecycle", "the modules were ended", r"tessel_shutdown"),
    ("the program shuts down", "database", "the keyed files were closed", r"database_close", r"tessel_shutdown"),
    ("the program shuts down", "universe", "the universe connection ended", r"universe_term", r"tessel_shutdown"),
]


def checks(tour, name):
    """The table's checks of one checkpoint, for Tour.check."""
    out = []
    for row in ROWS:
        if row[0] != name:
            continue
        module, what, pattern = row[1], row[2], row[3]
        after = row[4] if len(row) > 4 else None

        def test(pattern=pattern, after=after):
            start = None
            if after is not None:
                start = tour.logged(after)
                if start < 0:
                    return False
            return tour.logged(pattern, start) >= 0

        out.append(("%s: %s" % (module, what), test))
    return out


def modules():
    """Each module and the checkpoints that show it."""
    seen = {}
    for row in ROWS:
        seen.setdefault(row[1], [])
        if row[0] not in seen[row[1]]:
            seen[row[1]].append(row[0])
    return seen


if __name__ == "__main__":
    for module, names in sorted(modules().items()):
        print("%-28s %s" % (module, "; ".join(names)))
    for row in ROWS:
        re.compile(row[3])
