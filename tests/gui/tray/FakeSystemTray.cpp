// Owns the screen's system tray selection as a tray host does, so a program under a bare Xvfb
// finds a system tray. Docking requests are taken and ignored. Prints "ready" once it owns the
// selection, then runs until it is ended.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

} // namespace

int main() {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "fake-systray: no X display\n");
    return 1;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
  const xcb_window_t root = screens.data->root;

  const xcb_window_t tray = xcb_generate_id(connection);
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, tray, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const xcb_atom_t selection = Atom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
  xcb_set_selection_owner(connection, tray, selection, XCB_CURRENT_TIME);

  // Clients waiting for a tray learn of it from the MANAGER message on the root window.
  xcb_client_message_event_t manager{};
  manager.response_type = XCB_CLIENT_MESSAGE;
  manager.format = 32;
  manager.window = root;
  manager.type = Atom(connection, "MANAGER");
  manager.data.data32[0] = XCB_CURRENT_TIME;
  manager.data.data32[1] = selection;
  manager.data.data32[2] = tray;
  xcb_send_event(connection, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
  xcb_flush(connection);

  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
  const bool owned = owner && owner->owner == tray;
  std::free(owner);
  if (!owned) {
    std::fprintf(stderr, "fake-systray: another program owns the tray selection\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) std::free(event);
  xcb_disconnect(connection);
  return 0;
}
