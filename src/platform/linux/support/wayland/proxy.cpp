#include "platform/linux/support/wayland/proxy.h"

#include "wayland/data-control.h"
#include "wayland/foreign-toplevel.h"
#include "wayland/layer-shell.h"
#include "wayland/output-management.h"
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
void destroy(wl_compositor* p) { wl_compositor_destroy(p); }
void destroy(wl_surface* p) { wl_surface_destroy(p); }
void destroy(wl_region* p) { wl_region_destroy(p); }
void destroy(wl_callback* p) { wl_callback_destroy(p); }
void destroy(zwlr_layer_shell_v1* p) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(p)) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION) {
        zwlr_layer_shell_v1_destroy(p);
    } else {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(p));
    }
}
void destroy(zwlr_layer_surface_v1* p) { zwlr_layer_surface_v1_destroy(p); }
// Asks the compositor to send no more heads, then forgets the manager (it has no destructor).
void destroy(zwlr_output_manager_v1* p) {
    zwlr_output_manager_v1_stop(p);
    zwlr_output_manager_v1_destroy(p);
}
// Up to version 2 heads and modes have no destructor request: forgotten on this side only.
void destroy(zwlr_output_head_v1* p) { zwlr_output_head_v1_destroy(p); }
void destroy(zwlr_output_mode_v1* p) { zwlr_output_mode_v1_destroy(p); }

}  // namespace tamborix::wayland
