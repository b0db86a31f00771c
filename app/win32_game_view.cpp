// The WebBrowser control hosted in a window of our own.
//
// The container is one small object that is the control's client site and
// in-place site, with the in-place frame as a part of it that shares its
// single reference count. The site's window is the game view's; the frame's
// is the top-level main window. The game view's window holds one reference
// from creation until it is destroyed, when the control is closed and
// released first.
#include "app/win32_game_view.h"

#include <exdisp.h>
#include <ole2.h>
#include <oleidl.h>

#include <new>

namespace {

const wchar_t GAME_VIEW_CLASS[] = L"VellmirGameView";

class BrowserSite;

// The in-place frame: the top-level window around the site. It has no
// toolbars, menus, status bar or shortcut keys of its own. Its identity and
// reference count are its site's.
class BrowserFrame final : public IOleInPlaceFrame {
public:
    explicit BrowserFrame(BrowserSite& site) : site_(site) {}
    BrowserFrame(const BrowserFrame&) = delete;
    BrowserFrame& operator=(const BrowserFrame&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceUIWindow: no toolbars, no border space. Asking for none
    // (null, or all widths 0) is granted.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override {
        if (widths == nullptr ||
            (widths->left == 0 && widths->top == 0 && widths->right == 0 && widths->bottom == 0))
            return S_OK;
        return OLE_E_INVALIDRECT;
    }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return S_OK;
    }

    // IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    BrowserSite& site_;
};

class BrowserSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    explicit BrowserSite(HWND window) : window_(window), frame_(*this) {}
    BrowserSite(const BrowserSite&) = delete;
    BrowserSite& operator=(const BrowserSite&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(&frame_);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker != nullptr)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        if (container != nullptr)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow: the in-place site's window, the game view's.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (window == nullptr)
            return E_POINTER;
        *window = window_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override {
        if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
            info == nullptr)
            return E_POINTER;
        *frame = &frame_;
        AddRef();
        *document = nullptr;
        GetClientRect(window_, position);
        *clip = *position;
        info->fMDIApp = FALSE;
        info->hwndFrame = top_level_window();
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    HWND top_level_window() const { return GetAncestor(window_, GA_ROOT); }

private:
    ~BrowserSite() = default;

    LONG references_ = 1;  // the game view window's reference
    HWND window_;
    BrowserFrame frame_;
};

HRESULT BrowserFrame::QueryInterface(REFIID iid, void** object) {
    return site_.QueryInterface(iid, object);
}
ULONG BrowserFrame::AddRef() { return site_.AddRef(); }
ULONG BrowserFrame::Release() { return site_.Release(); }

HRESULT BrowserFrame::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = site_.top_level_window();
    return S_OK;
}

// The one game view of the process, owned by the main thread.
struct GameView {
    HWND window = nullptr;
    BrowserSite* site = nullptr;
    IOleObject* control = nullptr;
    IWebBrowser2* browser = nullptr;
    IOleInPlaceActiveObject* active = nullptr;
};
GameView game_view;

template <typename T>
void release(T*& object) {
    if (object != nullptr) {
        T* last = object;
        object = nullptr;  // nobody reaches it any more, even from a nested call
        last->Release();
    }
}

void release_browser() {
    release(game_view.active);
    release(game_view.browser);
    if (game_view.control != nullptr) {
        game_view.control->Close(OLECLOSE_NOSAVE);
        game_view.control->SetClientSite(nullptr);
        release(game_view.control);
    }
    release(game_view.site);
}

// Creates the control in the view's window, covering its client area, and
// applies the settings in this order: Silent, Offline, RegisterAsDropTarget,
// RegisterAsBrowser.
bool embed_browser(HWND window) {
    game_view.site = new (std::nothrow) BrowserSite(window);
    if (game_view.site == nullptr)
        return false;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&game_view.control))))
        return false;
    game_view.control->SetClientSite(static_cast<IOleClientSite*>(game_view.site));
    RECT area;
    GetClientRect(window, &area);
    game_view.control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                              static_cast<IOleClientSite*>(game_view.site), 0, window, &area);
    if (FAILED(game_view.control->QueryInterface(IID_IWebBrowser2,
                                                  reinterpret_cast<void**>(&game_view.browser))))
        return false;
    game_view.browser->put_Silent(VARIANT_FALSE);
    game_view.browser->put_Offline(VARIANT_FALSE);
    game_view.browser->put_RegisterAsDropTarget(VARIANT_TRUE);
    game_view.browser->put_RegisterAsBrowser(VARIANT_FALSE);
    game_view.control->QueryInterface(IID_IOleInPlaceActiveObject,
                                      reinterpret_cast<void**>(&game_view.active));
    return true;
}

LRESULT CALLBACK game_view_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SIZE:
        if (game_view.control != nullptr) {
            IOleInPlaceObject* in_place = nullptr;
            if (SUCCEEDED(game_view.control->QueryInterface(
                    IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
                RECT area;
                GetClientRect(window, &area);
                in_place->SetObjectRects(&area, &area);
                in_place->Release();
            }
        }
        return 0;
    case WM_SETFOCUS:
        // The keyboard belongs to the page: UI-activating the control moves
        // the focus into it.
        if (game_view.control != nullptr) {
            RECT area;
            GetClientRect(window, &area);
            game_view.control->DoVerb(OLEIVERB_UIACTIVATE, nullptr,
                                      static_cast<IOleClientSite*>(game_view.site), 0, window,
                                      &area);
        }
        return 0;
    case WM_DESTROY:
        if (window == game_view.window) {
            release_browser();
            game_view.window = nullptr;
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

bool register_game_view_class(HINSTANCE instance) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = game_view_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.lpszClassName = GAME_VIEW_CLASS;
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND create_game_view(HWND parent, int left, int top, int width, int height) {
    if (game_view.window != nullptr)
        return nullptr;  // there is only ever one
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!register_game_view_class(instance))
        return nullptr;
    const HWND window = CreateWindowExW(0, GAME_VIEW_CLASS, L"", WS_CHILD | WS_TABSTOP | WS_CLIPCHILDREN,
                                        left, top, width, height, parent, nullptr, instance, nullptr);
    if (window == nullptr)
        return nullptr;
    game_view.window = window;
    if (!embed_browser(window)) {
        DestroyWindow(window);  // releases whatever was made
        return nullptr;
    }
    return window;
}

void navigate_game_view(const char* address) {
    IWebBrowser2* browser = game_view.browser;
    if (browser == nullptr || address == nullptr)
        return;
    const int length = MultiByteToWideChar(CP_ACP, 0, address, -1, nullptr, 0);
    if (length <= 0)
        return;
    BSTR url = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (url == nullptr)
        return;
    MultiByteToWideChar(CP_ACP, 0, address, -1, url, length);

    VARIANT flags;
    VariantInit(&flags);
    flags.vt = VT_I4;
    flags.lVal = 0;
    VARIANT target_frame;
    VariantInit(&target_frame);
    target_frame.vt = VT_BSTR;
    target_frame.bstrVal = nullptr;
    VARIANT post_data;
    VariantInit(&post_data);  // VT_EMPTY
    VARIANT headers;
    VariantInit(&headers);
    headers.vt = VT_BSTR;
    headers.bstrVal = nullptr;

    browser->AddRef();  // stays alive even if the view is destroyed meanwhile
    browser->Navigate(url, &flags, &target_frame, &post_data, &headers);
    browser->Release();
    SysFreeString(url);
}

bool game_view_translate_accelerator(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST)
        return false;
    if (game_view.active == nullptr || game_view.window == nullptr)
        return false;
    if (message.hwnd != game_view.window && !IsChild(game_view.window, message.hwnd))
        return false;
    IOleInPlaceActiveObject* active = game_view.active;
    active->AddRef();
    const HRESULT taken = active->TranslateAccelerator(&message);
    active->Release();
    return taken == S_OK;
}
