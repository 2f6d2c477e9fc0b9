#pragma once
// The one owner of a Wayland proxy: `Proxy<T>` sends T's destructor request when dropped. The
// generated destroy functions are static inline, so each proxy type the helper holds gets a
// destroy() of its own here.

#include <wayland-client.h>

#include <memory>

struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_source_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_screencopy_frame_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
struct zwlr_output_manager_v1;
struct zwlr_output_head_v1;
struct zwlr_output_mode_v1;

namespace tamborix::wayland {

void destroy(wl_registry* p);
void destroy(wl_seat* p);
void destroy(wl_output* p);
void destroy(wl_keyboard* p);
void destroy(zxdg_output_manager_v1* p);
void destroy(zxdg_output_v1* p);
void destroy(zwlr_virtual_pointer_manager_v1* p);
void destroy(zwlr_virtual_pointer_v1* p);
void destroy(zwp_virtual_keyboard_manager_v1* p);
void destroy(zwp_virtual_keyboard_v1* p);
void destroy(zwlr_data_control_manager_v1* p);
void destroy(zwlr_data_control_device_v1* p);
void destroy(zwlr_data_control_source_v1* p);
void destroy(zwlr_data_control_offer_v1* p);
void destroy(zwlr_screencopy_manager_v1* p);
void destroy(zwlr_screencopy_frame_v1* p);
void destroy(wl_shm* p);
void destroy(zwlr_foreign_toplevel_manager_v1* p);
void destroy(zwlr_foreign_toplevel_handle_v1* p);
void destroy(wl_shm_pool* p);
void destroy(wl_buffer* p);
void destroy(wl_compositor* p);
void destroy(wl_surface* p);
void destroy(wl_region* p);
void destroy(wl_callback* p);
void destroy(zwlr_layer_shell_v1* p);
void destroy(zwlr_layer_surface_v1* p);
void destroy(zwlr_output_manager_v1* p);
void destroy(zwlr_output_head_v1* p);
void destroy(zwlr_output_mode_v1* p);

struct ProxyRelease {
    template <class T>
    void operator()(T* p) const noexcept {
        if (p) destroy(p);
    }
};

template <class T>
using Proxy = std::unique_ptr<T, ProxyRelease>;

}  // namespace tamborix::wayland
