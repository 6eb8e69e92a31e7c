// Time per call through the vtable, and by name through IDispatch, from C++: the counterpart of
// scripts/calls.vbs. Needs the DLL registered.
#include <cstdio>

#include "platform/platform.h"
#include "vexorin_h.h"

namespace {

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename Call>
void Time(const char* what, int n, Call call) {
  const double start = Now();
  for (int i = 0; i < n; ++i) call();
  std::printf("%-30s %10.2f us/call\n", what, (Now() - start) * 1e6 / n);
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  IVexorin* v = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(&v)))) {
    std::fprintf(stderr, "the component is not registered\n");
    return 1;
  }
  const int n = 3000;
  Time("vtable Number get", n, [&] {
    BSTR s = nullptr;
    v->get_Number(&s);
    SysFreeString(s);
  });
  Time("vtable GenerateRnd", n, [&] {
    LONG x = 0;
    v->GenerateRnd(8, &x);
  });
  Time("vtable GetImage", n, [&] {
    VARIANT image;
    VariantInit(&image);
    v->GetImage(&image);
    VariantClear(&image);
  });
  DISPID id = 0;
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"Number")};
  Time("IDispatch Number get by name", n, [&] {
    v->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    v->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    VariantClear(&result);
  });
  v->Release();
  CoUninitialize();
  return 0;
}
