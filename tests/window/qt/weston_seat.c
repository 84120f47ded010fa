/* A Weston module for the tests: gives a headless Weston a seat with a keyboard and a pointer,
 * and sends them the keys and clicks that a test writes, one command a line, to the FIFO named
 * by KAVONI_WESTON_INPUT. The events go through Weston's own input path, so its key bindings
 * (Super+Shift+M maximises) and its focus rules apply as for a real keyboard and mouse.
 *
 *   key CHORD...          each chord (super+shift+m, Return, a) pressed, then let go
 *   click X Y TITLE       a left click at X, Y in the topmost window titled TITLE, counted from
 *                         the top left of its window geometry
 *
 * Weston keeps the input functions of its backends out of its installed headers; they are
 * declared here as libweston 10 exports them. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <libweston-desktop/libweston-desktop.h>
#include <libweston/libweston.h>
#include <linux/input-event-codes.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>
#include <wayland-server-core.h>

#include <libweston/version.h>

#if WESTON_VERSION_MAJOR != 10
#error "the declarations below are libweston 10's: check them against this version's backend.h"
#endif

void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec,
                      const char *seat_name);
void weston_seat_release(struct weston_seat *seat);
int weston_seat_init_pointer(struct weston_seat *seat);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);
void notify_key(struct weston_seat *seat, const struct timespec *time, uint32_t key,
                enum wl_keyboard_key_state state, enum weston_key_state_update update_state);
void notify_motion_absolute(struct weston_seat *seat, const struct timespec *time, double x,
                            double y);
void notify_button(struct weston_seat *seat, const struct timespec *time, int32_t button,
                   enum wl_pointer_button_state state);
void notify_pointer_frame(struct weston_seat *seat);

struct test_seat {
  struct weston_compositor *compositor;
  struct weston_seat seat;
  struct wl_event_source *source;
  struct wl_listener destroy_listener;
  int fd;
  char line[4096];
  size_t length;
};

struct key_name {
  const char *name;
  uint32_t code;
};

static const struct key_name kKeys[] = {
    {"super", KEY_LEFTMETA},   {"shift", KEY_LEFTSHIFT}, {"ctrl", KEY_LEFTCTRL},
    {"alt", KEY_LEFTALT},      {"Return", KEY_ENTER},    {"Tab", KEY_TAB},
    {"Escape", KEY_ESC},       {"space", KEY_SPACE},     {"BackSpace", KEY_BACKSPACE},
    {"Up", KEY_UP},            {"Down", KEY_DOWN},       {"Left", KEY_LEFT},
    {"Right", KEY_RIGHT},      {"F4", KEY_F4},           {"F11", KEY_F11},
    {"slash", KEY_SLASH},      {"period", KEY_DOT},      {"minus", KEY_MINUS},
    {"a", KEY_A},              {"b", KEY_B},             {"c", KEY_C},
    {"d", KEY_D},              {"e", KEY_E},             {"f", KEY_F},
    {"g", KEY_G},              {"h", KEY_H},             {"i", KEY_I},
    {"j", KEY_J},              {"k", KEY_K},             {"l", KEY_L},
    {"m", KEY_M},              {"n", KEY_N},             {"o", KEY_O},
    {"p", KEY_P},              {"q", KEY_Q},             {"r", KEY_R},
    {"s", KEY_S},              {"t", KEY_T},             {"u", KEY_U},
    {"v", KEY_V},              {"w", KEY_W},             {"x", KEY_X},
    {"y", KEY_Y},              {"z", KEY_Z},             {"0", KEY_0},
    {"1", KEY_1},              {"2", KEY_2},             {"3", KEY_3},
    {"4", KEY_4},              {"5", KEY_5},             {"6", KEY_6},
    {"7", KEY_7},              {"8", KEY_8},             {"9", KEY_9},
};

static int key_code(const char *name, uint32_t *code) {
  for (size_t i = 0; i < sizeof(kKeys) / sizeof(kKeys[0]); ++i) {
    if (strcmp(kKeys[i].name, name) == 0) {
      *code = kKeys[i].code;
      return 1;
    }
  }
  return 0;
}

static void send_key(struct test_seat *input, uint32_t code, enum wl_keyboard_key_state state) {
  struct timespec now;
  weston_compositor_get_time(&now);
  notify_key(&input->seat, &now, code, state, STATE_UPDATE_AUTOMATIC);
}

/* Presses the keys of one chord in order and lets them go in reverse. */
static void send_chord(struct test_seat *input, char *chord) {
  uint32_t codes[8];
  size_t count = 0;
  for (char *save = NULL, *name = strtok_r(chord, "+", &save); name != NULL && count < 8;
       name = strtok_r(NULL, "+", &save)) {
    if (!key_code(name, &codes[count])) {
      weston_log("kavoni test seat: no key named '%s'\n", name);
      return;
    }
    ++count;
  }
  for (size_t i = 0; i < count; ++i) {
    send_key(input, codes[i], WL_KEYBOARD_KEY_STATE_PRESSED);
  }
  for (size_t i = count; i > 0; --i) {
    send_key(input, codes[i - 1], WL_KEYBOARD_KEY_STATE_RELEASED);
  }
}

static struct weston_view *window_titled(struct test_seat *input, const char *title) {
  struct weston_view *view;
  wl_list_for_each(view, &input->compositor->view_list, link) {
    if (!weston_surface_is_desktop_surface(view->surface)) {
      continue;
    }
    struct weston_desktop_surface *window = weston_surface_get_desktop_surface(view->surface);
    const char *window_title = weston_desktop_surface_get_title(window);
    if (window_title != NULL && strcmp(window_title, title) == 0) {
      return view;
    }
  }
  return NULL;
}

static void send_click(struct test_seat *input, float x, float y, const char *title) {
  struct weston_view *view = window_titled(input, title);
  if (view == NULL) {
    weston_log("kavoni test seat: no window titled '%s'\n", title);
    return;
  }
  const struct weston_geometry geometry =
      weston_desktop_surface_get_geometry(weston_surface_get_desktop_surface(view->surface));
  float global_x, global_y;
  weston_view_to_global_float(view, geometry.x + x, geometry.y + y, &global_x, &global_y);
  struct timespec now;
  weston_compositor_get_time(&now);
  notify_motion_absolute(&input->seat, &now, global_x, global_y);
  notify_pointer_frame(&input->seat);
  notify_button(&input->seat, &now, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
  notify_pointer_frame(&input->seat);
  notify_button(&input->seat, &now, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
  notify_pointer_frame(&input->seat);
}

static void run_command(struct test_seat *input, char *line) {
  char *save = NULL;
  const char *command = strtok_r(line, " ", &save);
  if (command == NULL) {
    return;
  }
  if (strcmp(command, "key") == 0) {
    for (char *chord = strtok_r(NULL, " ", &save); chord != NULL;
         chord = strtok_r(NULL, " ", &save)) {
      send_chord(input, chord);
    }
  } else if (strcmp(command, "click") == 0) {
    const char *x = strtok_r(NULL, " ", &save);
    const char *y = strtok_r(NULL, " ", &save);
    if (x != NULL && y != NULL && save != NULL && *save != '\0') {
      send_click(input, strtof(x, NULL), strtof(y, NULL), save);
    }
  } else {
    weston_log("kavoni test seat: unknown command '%s'\n", command);
  }
}

static int on_readable(int fd, uint32_t mask, void *data) {
  (void)mask;
  struct test_seat *input = data;
  for (;;) {
    char byte;
    const ssize_t got = read(fd, &byte, 1);
    if (got <= 0) {
      return 0;
    }
    if (byte == '\n') {
      input->line[input->length] = '\0';
      run_command(input, input->line);
      input->length = 0;
    } else if (input->length + 1 < sizeof(input->line)) {
      input->line[input->length++] = byte;
    }
  }
}

static void on_compositor_destroyed(struct wl_listener *listener, void *data) {
  (void)data;
  struct test_seat *input = wl_container_of(listener, input, destroy_listener);
  wl_list_remove(&input->destroy_listener.link);
  wl_event_source_remove(input->source);
  close(input->fd);
  weston_seat_release(&input->seat);
  free(input);
}

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[]) {
  (void)argc;
  (void)argv;
  const char *path = getenv("KAVONI_WESTON_INPUT");
  if (path == NULL) {
    weston_log("kavoni test seat: KAVONI_WESTON_INPUT names no FIFO\n");
    return -1;
  }
  struct test_seat *input = calloc(1, sizeof(*input));
  if (input == NULL) {
    return -1;
  }
  /* Read and write, so that the FIFO never reads as closed between two writers. */
  input->fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (input->fd < 0) {
    weston_log("kavoni test seat: can't open %s: %s\n", path, strerror(errno));
    free(input);
    return -1;
  }
  input->compositor = compositor;
  weston_seat_init(&input->seat, compositor, "kavoni-test");
  weston_seat_init_pointer(&input->seat);
  if (weston_seat_init_keyboard(&input->seat, NULL) < 0) {
    weston_log("kavoni test seat: no keymap\n");
  }
  input->source = wl_event_loop_add_fd(wl_display_get_event_loop(compositor->wl_display),
                                       input->fd, WL_EVENT_READABLE, on_readable, input);
  input->destroy_listener.notify = on_compositor_destroyed;
  wl_signal_add(&compositor->destroy_signal, &input->destroy_listener);
  return 0;
}
