// Windows only. JUCE asks DXGI for the display adapters when its first window opens and on every
// display change, and uses the factory it asked for without checking that it got one. Where DXGI
// cannot make one at that moment (seen under Wine on a busy machine, where the program then
// crashed before its window showed), this definition stands in for the import: it asks DXGI
// again for a while, and if it never answers, gives JUCE a factory with no adapters, so the
// program runs on rather than crash (its windows then repaint only when the system asks them to).
#if defined(_WIN32)

 #include <windows.h>

 #include <dxgi.h>

 #include <cstdio>

namespace
{
struct NoAdapters final : IDXGIFactory
{
    HRESULT STDMETHODCALLTYPE QueryInterface (REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDXGIObject) || riid == __uuidof(IDXGIFactory))
        {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return (ULONG) InterlockedIncrement (&references);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const auto left = InterlockedDecrement (&references);
        if (left == 0)
            delete this;
        return (ULONG) left;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateData (REFGUID, UINT, const void*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface (REFGUID, const IUnknown*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPrivateData (REFGUID, UINT*, void*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetParent (REFIID, void** parent) override
    {
        if (parent != nullptr)
            *parent = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE EnumAdapters (UINT, IDXGIAdapter** adapter) override
    {
        if (adapter != nullptr)
            *adapter = nullptr;
        return DXGI_ERROR_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE MakeWindowAssociation (HWND, UINT) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowAssociation (HWND* window) override
    {
        if (window != nullptr)
            *window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateSwapChain (IUnknown*, DXGI_SWAP_CHAIN_DESC*, IDXGISwapChain** chain) override
    {
        if (chain != nullptr)
            *chain = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateSoftwareAdapter (HMODULE, IDXGIAdapter** adapter) override
    {
        if (adapter != nullptr)
            *adapter = nullptr;
        return E_NOTIMPL;
    }

    LONG references = 1;
};

// Five seconds in all: the first window waits for it, once.
constexpr int factoryTries = 50;
constexpr DWORD betweenTriesMs = 100;
} // namespace

extern "C" HRESULT WINAPI CreateDXGIFactory (REFIID riid, void** factory)
{
    using Create = HRESULT (WINAPI*) (REFIID, void**);
    static const auto create = reinterpret_cast<Create> (
        reinterpret_cast<void*> (GetProcAddress (LoadLibraryW (L"dxgi.dll"), "CreateDXGIFactory")));
    if (factory == nullptr)
        return E_POINTER;

    // Once DXGI has failed for the whole wait, it is not asked again: under Wine the program was
    // seen to show no window at all after such a wait, and a later call may be what held it.
    static bool gaveUp = false;
    HRESULT result = E_FAIL;
    for (int attempt = 0; attempt < factoryTries && create != nullptr && ! gaveUp; ++attempt)
    {
        *factory = nullptr;
        result = create (riid, factory);
        if (SUCCEEDED (result) && *factory != nullptr)
            return result;
        std::fprintf (stderr, "DXGI made no factory (0x%08lx), asked again\n", (unsigned long) result);
        Sleep (betweenTriesMs);
    }

    gaveUp = true;
    if (riid != __uuidof(IDXGIFactory) && riid != __uuidof(IUnknown))
        return FAILED (result) ? result : E_FAIL;
    *factory = static_cast<IDXGIFactory*> (new NoAdapters());
    return S_OK;
}

#endif
