// Linked into brevalo-cli only with BREVALO_STATIC_CLI, in place of GMime's GIO stream.
//
// g_mime_init() registers every GMime type, the GIO stream's too, and calls nothing else
// of it. From the static archives that one call would pull in all of GIO (files, D-Bus,
// mounts) and with it the shared libmount, libblkid and libselinux, whose symbol lookups
// at start cost as much as the rest of the start. The tool reads and writes messages
// through file descriptors and memory streams, never through GIO. Should anything call
// GMime's GIO stream after all, the link fails: its object defines this symbol too.
#include <gmime/gmime-stream-gio.h>

extern "C" GType g_mime_stream_gio_get_type(void) {
    // g_mime_init() discards the type; nothing else asks for it.
    return G_TYPE_INVALID;
}
