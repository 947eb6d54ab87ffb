#pragma once
// Joins the avatar animation library to the program: its model, download and unzip
// callbacks, its fatal-error box through the host, and the own avatar's entries of self_hook.
// Safe to call more than once.
void anim_link_init();
