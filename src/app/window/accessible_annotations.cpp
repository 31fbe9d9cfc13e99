#include "app/window/accessible_annotations.h"

#include <oleacc.h>

#include "app/window/app_state.h"
#include "app/window/control_ids.h"
#include "app/window/control_table.h"

namespace app {
namespace {

// Spelled out here rather than taken from oleacc's import library, which
// would put oleacc.dll in the program's imports; COM loads it from System32.
constexpr GUID ACC_PROP_SERVICES_CLASS = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID ACC_PROP_SERVICES_INTERFACE = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID NAME_PROPERTY = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
constexpr GUID LIVE_SETTING_PROPERTY = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LIVE_SETTING_POLITE = 1;

IAccPropServices* services = nullptr;

HWND control_with_id(int id) {
    for (size_t i = 0; i < CONTROL_COUNT; ++i) {
        if (CONTROLS[i].id == id)
            return app_state.controls[i];
    }
    return nullptr;
}

void name_control(int id, const WCHAR* name) {
    const HWND control = control_with_id(id);
    if (control != nullptr)
        (void)services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                       NAME_PROPERTY, name);
}

void clear_control(HWND control, const GUID& property) {
    if (control != nullptr)
        (void)services->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                       &property, 1);
}

}  // namespace

void annotate_controls() {
    void* made = nullptr;
    if (FAILED(sys::CoCreateInstance(ACC_PROP_SERVICES_CLASS, nullptr, CLSCTX_INPROC_SERVER,
                                     ACC_PROP_SERVICES_INTERFACE, &made)) ||
        made == nullptr)
        return;
    services = static_cast<IAccPropServices*>(made);
    VARIANT polite{};
    polite.vt = VT_I4;
    polite.lVal = LIVE_SETTING_POLITE;
    (void)services->SetHwndProp(app_state.hwnd_status, static_cast<DWORD>(OBJID_CLIENT),
                                CHILDID_SELF, LIVE_SETTING_PROPERTY, polite);
    name_control(ID_MINIMIZE, MINIMIZE_NAME);
    name_control(ID_CLOSE, CLOSE_NAME);
}

void clear_annotations() {
    if (services == nullptr)
        return;
    clear_control(app_state.hwnd_status, LIVE_SETTING_PROPERTY);
    clear_control(control_with_id(ID_MINIMIZE), NAME_PROPERTY);
    clear_control(control_with_id(ID_CLOSE), NAME_PROPERTY);
    (void)services->Release();
    services = nullptr;
}

void announce_status_change() {
    sys::NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, app_state.hwnd_status, OBJID_CLIENT,
                        CHILDID_SELF);
}

}  // namespace app
