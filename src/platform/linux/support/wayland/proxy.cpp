#include "platform/linux/support/wayland/proxy.h"

#include "wayland/data-control.h"
#include "wayland/foreign-toplevel.h"
#include "wayland/screencopy.h"
#include "wayland/virtual-keyboard.h"
#include "wayland/virtual-pointer.h"
#include "wayland/xdg-output-unstable-v1.h"

namespace tamborix::wayland {

void destroy(wl_registry* p) { wl_registry_destroy(p); }
void destroy(wl_seat* p) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(p)) >= WL_SEAT_RELEASE_SINCE_VERSION) {
        wl_seat_release(p);
    } else {
        wl_seat_destroy(p);
    }
}
void destroy(wl_output* p) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(p)) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(p);
    } else {
        wl_output_destroy(p);
    }
}
void destroy(wl_keyboard* p) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(p)) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(p);
    } else {
        wl_keyboard_destroy(p);
    }
}
void destroy(zxdg_output_manager_v1* p) { zxdg_output_manager_v1_destroy(p); }
void destroy(zxdg_output_v1* p) { zxdg_output_v1_destroy(p); }
void destroy(zwlr_virtual_pointer_manager_v1* p) { zwlr_virtual_pointer_manager_v1_destroy(p); }
void destroy(zwlr_virtual_pointer_v1* p) { zwlr_virtual_pointer_v1_destroy(p); }
// The keyboard manager has no destructor request.
void destroy(zwp_virtual_keyboard_manager_v1* p) { zwp_virtual_keyboard_manager_v1_destroy(p); }
void destroy(zwp_virtual_keyboard_v1* p) { zwp_virtual_keyboard_v1_destroy(p); }
void destroy(zwlr_data_control_manager_v1* p) { zwlr_data_control_manager_v1_destroy(p); }
void destroy(zwlr_data_control_device_v1* p) { zwlr_data_control_device_v1_destroy(p); }
void destroy(zwlr_data_control_source_v1* p) { zwlr_data_control_source_v1_destroy(p); }
void destroy(zwlr_data_control_offer_v1* p) { zwlr_data_control_offer_v1_destroy(p); }
void destroy(zwlr_screencopy_manager_v1* p) { zwlr_screencopy_manager_v1_destroy(p); }
void destroy(zwlr_screencopy_frame_v1* p) { zwlr_screencopy_frame_v1_destroy(p); }
void destroy(wl_shm* p) { wl_shm_destroy(p); }
// The manager has no destructor request: stop() asks the compositor to finish first.
void destroy(zwlr_foreign_toplevel_manager_v1* p) { zwlr_foreign_toplevel_manager_v1_destroy(p); }
void destroy(zwlr_foreign_toplevel_handle_v1* p) { zwlr_foreign_toplevel_handle_v1_destroy(p); }
void destroy(wl_shm_pool* p) { wl_shm_pool_destroy(p); }
void destroy(wl_buffer* p) { wl_buffer_destroy(p); }

}  // namespace tamborix::wayland
