/*
 * A recording SMS gateway for the Windows tests: an in-process COM server
 * (DllGetClassObject, DllCanUnloadNow) of the gateway class, whose objects
 * offer the gateway interface with the send method in slot 9. The tests
 * register it in the registry themselves. Each event appends one line to the
 * file named by VANTREL_TEST_SMS_RECORD (see recording_file.h):
 *
 *   create <class id> <interface id> accepted|refused
 *   send <api id> <user name> <password> <number> <text> <apartment>
 *   release
 *
 * <apartment> is the calling thread's COM apartment: mta, sta or none.
 * VANTREL_TEST_SMS_REFUSE=1 makes the class refuse the interface. Every send
 * returns the reply "recorded", which the caller frees.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "tests/notify/recording_file.h"

static const CLSID kClass = {0x231CD7E4, 0x908C, 0x45C0, {0xB3, 0x57, 0x34, 0xFE, 0x86, 0x0B, 0xED, 0x1D}};
static const IID kInterface = {0xEEFFA403, 0x0DD7, 0x4D83, {0xA9, 0xED, 0xCA, 0x22, 0xDA, 0xD7, 0xC3, 0x88}};

static LONG g_nObjects = 0;

typedef struct Gateway Gateway;
typedef struct GatewayVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(Gateway* self, REFIID riid, void** ppv);
    ULONG(STDMETHODCALLTYPE* AddRef)(Gateway* self);
    ULONG(STDMETHODCALLTYPE* Release)(Gateway* self);
    HRESULT(STDMETHODCALLTYPE* Other[6])(Gateway* self);
    HRESULT(STDMETHODCALLTYPE* Send)(Gateway* self, BSTR api_id, BSTR user_name, BSTR password, BSTR number,
                                     BSTR text, BSTR* reply);
} GatewayVtbl;
struct Gateway {
    const GatewayVtbl* lpVtbl;
    LONG nRefs;
};

static HRESULT STDMETHODCALLTYPE QueryInterface(Gateway* self, REFIID riid, void** ppv) {
    if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &kInterface)) {
        *ppv = self;
        self->lpVtbl->AddRef(self);
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE AddRef(Gateway* self) { return (ULONG)InterlockedIncrement(&self->nRefs); }

static ULONG STDMETHODCALLTYPE Release(Gateway* self) {
    const LONG n = InterlockedDecrement(&self->nRefs);
    if (n == 0) {
        Record("release", NULL, 0, NULL);
        CoTaskMemFree(self);
        InterlockedDecrement(&g_nObjects);
    }
    return (ULONG)n;
}

static HRESULT STDMETHODCALLTYPE NotImplemented(Gateway* self) {
    (void)self;
    return E_NOTIMPL;
}

static const char* Apartment(void) {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return "none";
    return type == APTTYPE_MTA ? "mta" : "sta";
}

static HRESULT STDMETHODCALLTYPE Send(Gateway* self, BSTR api_id, BSTR user_name, BSTR password, BSTR number,
                                      BSTR text, BSTR* reply) {
    (void)self;
    const wchar_t* fields[] = {api_id, user_name, password, number, text};
    Record("send", fields, 5, Apartment());
    *reply = SysAllocString(L"recorded");
    return S_OK;
}

static const GatewayVtbl kGatewayVtbl = {
    QueryInterface, AddRef, Release,
    {NotImplemented, NotImplemented, NotImplemented, NotImplemented, NotImplemented, NotImplemented}, Send};

/* The class factory: one static object. */
typedef struct Factory Factory;
typedef struct FactoryVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(Factory* self, REFIID riid, void** ppv);
    ULONG(STDMETHODCALLTYPE* AddRef)(Factory* self);
    ULONG(STDMETHODCALLTYPE* Release)(Factory* self);
    HRESULT(STDMETHODCALLTYPE* CreateInstance)(Factory* self, IUnknown* outer, REFIID riid, void** ppv);
    HRESULT(STDMETHODCALLTYPE* LockServer)(Factory* self, BOOL lock);
} FactoryVtbl;
struct Factory {
    const FactoryVtbl* lpVtbl;
};

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(Factory* self, REFIID riid, void** ppv) {
    if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IClassFactory)) {
        *ppv = self;
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE FactoryAddRef(Factory* self) {
    (void)self;
    return 2;
}

static ULONG STDMETHODCALLTYPE FactoryRelease(Factory* self) {
    (void)self;
    return 1;
}

static HRESULT STDMETHODCALLTYPE CreateInstance(Factory* self, IUnknown* outer, REFIID riid, void** ppv) {
    (void)self;
    wchar_t ids[2][40];
    StringFromGUID2(&kClass, ids[0], 40);
    StringFromGUID2(riid, ids[1], 40);
    const wchar_t* fields[] = {ids[0], ids[1]};
    const int refuse = EnvNumber("VANTREL_TEST_SMS_REFUSE", 0) != 0 || outer != NULL || !IsEqualIID(riid, &kInterface);
    Record("create", fields, 2, refuse ? "refused" : "accepted");
    *ppv = NULL;
    if (outer != NULL) return CLASS_E_NOAGGREGATION;
    if (refuse) return E_NOINTERFACE;
    Gateway* gateway = CoTaskMemAlloc(sizeof *gateway);
    if (gateway == NULL) return E_OUTOFMEMORY;
    gateway->lpVtbl = &kGatewayVtbl;
    gateway->nRefs = 1;
    InterlockedIncrement(&g_nObjects);
    *ppv = gateway;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE LockServer(Factory* self, BOOL lock) {
    (void)self;
    if (lock) {
        InterlockedIncrement(&g_nObjects);
    } else {
        InterlockedDecrement(&g_nObjects);
    }
    return S_OK;
}

static const FactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease, CreateInstance,
                                         LockServer};
static Factory g_factory = {&kFactoryVtbl};

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!IsEqualCLSID(rclsid, &kClass)) {
        *ppv = NULL;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.lpVtbl->QueryInterface(&g_factory, riid, ppv);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow(void) { return g_nObjects == 0 ? S_OK : S_FALSE; }
