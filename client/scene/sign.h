#pragma once
// Signs: objects whose faces tagged 100 show a text. The text is drawn into a two-colour
// bitmap shaped like the face (grown in height steps until it fits, within an area limit),
// made into one engine texture and put on every such face of the object. One sign is drawn
// per 500 ms so that many appear one after another without stalling frames. Window thread.
#include <cstdint>

struct sign;
struct model_instance;
#include "engine/vxl21.h"

constexpr int SIGN_TAG = 100;
constexpr uint32_t SIGN_INTERVAL = 500;
constexpr double SIGN_ASPECT_MAX = 10.0;
constexpr uint32_t SIGN_TEXT_DEFAULT = 0xFFFFFF;        // white
constexpr uint32_t SIGN_BACKGROUND_DEFAULT = 0xFF0000;  // blue (0x00BBGGRR)

void sign_init();
void sign_term();
void sign_update();  // task "sign"
// The object's sign shows text in colour on background (colour names or hex; null or empty
// gives the defaults). The object keeps one sign: a new one releases the old.
void sign_create(model_instance* object, const char* text, const char* colour, const char* background);
void sign_requeue(sign* sign);
void sign_release(sign* sign);

// The bitmap size the text takes on a face of this width / height: width and height of the
// text area (without margins). Exposed for the size search's tests.
void sign_fit(const char* text, double aspect, int* width, int* height);

// Inspection for tests.
VxTexture* sign_texture(const sign* sign);
const char* sign_text(const sign* sign);
uint32_t sign_colour(const sign* sign);
uint32_t sign_background(const sign* sign);
int sign_queue_length();
void sign_reset_for_test();
