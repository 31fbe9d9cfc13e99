// What the window tells screen readers beyond the controls' texts: the
// status line is a polite live region, and the minimise and close buttons,
// drawn as glyphs, are named in words. The annotations are taken back and
// the service let go when the window goes; without the service the window
// starts all the same.
#include "app/window/accessible_annotations.h"

#include <oleacc.h>

#include <string>
#include <vector>

#include "app/window/control_ids.h"
#include "app/window/window_fixture.h"

namespace {

using app::app_state;

// As oleacc.h and UIAutomationCoreApi.h give them: CLSID_AccPropServices,
// IID_IAccPropServices, PROPID_ACC_NAME and LiveSetting_Property_GUID.
const GUID SERVICES_CLASS = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const GUID SERVICES_INTERFACE = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID NAME = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
const GUID LIVE_SETTING = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};

struct Annotation {
    std::string call;
    HWND hwnd;
    DWORD object;
    DWORD child;
    GUID property;
    std::wstring text;  // SetHwndPropStr's value
    VARTYPE type;       // SetHwndProp's value
    LONG number;
};

class RecordingServices : public IAccPropServices {
  public:
    std::vector<Annotation> calls;
    ULONG references = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        calls.push_back({"Release", nullptr, 0, 0, {}, {}, VT_EMPTY, 0});
        return --references;
    }
    HRESULT STDMETHODCALLTYPE SetHwndProp(HWND hwnd, DWORD object, DWORD child, MSAAPROPID property,
                                          VARIANT value) override {
        calls.push_back({"SetHwndProp", hwnd, object, child, property, {}, value.vt, value.lVal});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropStr(HWND hwnd, DWORD object, DWORD child,
                                             MSAAPROPID property, LPCWSTR text) override {
        calls.push_back({"SetHwndPropStr", hwnd, object, child, property, text, VT_EMPTY, 0});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearHwndProps(HWND hwnd, DWORD object, DWORD child,
                                             const MSAAPROPID* properties, int count) override {
        EXPECT_EQ(count, 1);
        calls.push_back({"ClearHwndProps", hwnd, object, child, properties[0], {}, VT_EMPTY, 0});
        return S_OK;
    }
    // Not used by the window.
    HRESULT STDMETHODCALLTYPE SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int,
                                            IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID*, int,
                                                IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**,
                                                        DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*,
                                                          DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int,
                                                 IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*,
                                                           DWORD*) override {
        return E_NOTIMPL;
    }
};

RecordingServices services;
bool services_available = true;

HRESULT WINAPI make_services(REFCLSID class_id, LPUNKNOWN outer, DWORD context, REFIID interface_id,
                             LPVOID* object) {
    *object = nullptr;
    if (!IsEqualCLSID(class_id, SERVICES_CLASS))
        return REGDB_E_CLASSNOTREG;
    EXPECT_TRUE(IsEqualIID(interface_id, SERVICES_INTERFACE));
    EXPECT_EQ(outer, nullptr);
    EXPECT_EQ(context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    if (!services_available)
        return REGDB_E_CLASSNOTREG;
    services.references = 1;
    *object = static_cast<IAccPropServices*>(&services);
    return S_OK;
}

HWND control_with_id(int id) {
    return GetDlgItem(app_state.hwnd_main, id);
}

class AnnotationsTest : public app_test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped())
            return;
        services.calls.clear();
        services_available = true;
        sys::calls.CoCreateInstance = make_services;
        add_two_sticks();
    }
};

TEST_F(AnnotationsTest, TheStatusIsALiveRegionAndTheGlyphButtonsHaveNames) {
    start();
    const HWND minimize = control_with_id(app::ID_MINIMIZE);
    const HWND close = control_with_id(app::ID_CLOSE);
    ASSERT_EQ(services.calls.size(), 3u);
    const Annotation& live = services.calls[0];
    EXPECT_EQ(live.call, "SetHwndProp");
    EXPECT_EQ(live.hwnd, app_state.hwnd_status);
    EXPECT_EQ(live.object, static_cast<DWORD>(OBJID_CLIENT));
    EXPECT_EQ(live.child, static_cast<DWORD>(CHILDID_SELF));
    EXPECT_TRUE(IsEqualGUID(live.property, LIVE_SETTING));
    EXPECT_EQ(live.type, VT_I4);
    EXPECT_EQ(live.number, 1) << "polite";
    const struct {
        HWND button;
        const wchar_t* name;
        const wchar_t* glyph;
    } named[] = {{minimize, L"Minimize", L"\u2212"}, {close, L"Close", L"\u00d7"}};
    for (size_t i = 0; i < 2; ++i) {
        const Annotation& a = services.calls[i + 1];
        EXPECT_EQ(a.call, "SetHwndPropStr");
        EXPECT_EQ(a.hwnd, named[i].button);
        EXPECT_EQ(a.object, static_cast<DWORD>(OBJID_CLIENT));
        EXPECT_EQ(a.child, static_cast<DWORD>(CHILDID_SELF));
        EXPECT_TRUE(IsEqualGUID(a.property, NAME));
        EXPECT_EQ(a.text, named[i].name);
        EXPECT_EQ(app_test::text_of(named[i].button), named[i].glyph) << "drawn as before";
    }

    services.calls.clear();
    DestroyWindow(app_state.hwnd_main);
    app_test::pump_messages();
    ASSERT_EQ(services.calls.size(), 4u);
    const HWND cleared[] = {app_state.hwnd_status, minimize, close};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(services.calls[i].call, "ClearHwndProps");
        EXPECT_EQ(services.calls[i].hwnd, cleared[i]);
    }
    EXPECT_TRUE(IsEqualGUID(services.calls[0].property, LIVE_SETTING));
    EXPECT_TRUE(IsEqualGUID(services.calls[1].property, NAME));
    EXPECT_EQ(services.calls[3].call, "Release");
    EXPECT_EQ(services.references, 0u);
}

TEST_F(AnnotationsTest, AWindowWithoutTheServiceStillStarts) {
    services_available = false;
    start();
    EXPECT_TRUE(IsWindow(app_state.hwnd_main));
    EXPECT_TRUE(services.calls.empty());
    DestroyWindow(app_state.hwnd_main);
    app_test::pump_messages();
    EXPECT_TRUE(services.calls.empty());
}

}  // namespace
