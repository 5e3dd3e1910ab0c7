// The libraries carry their own static copy of the C++ runtime. Its exception-handling emergency
// pool is allocated when the library is loaded and never freed, so a host that loads and unloads
// the models again and again would grow by the pool's size every time. Freeing it at unload is
// what the runtime's own hook is for; no code of the library runs after it.
#if defined(KT_STATIC_CXX_RUNTIME)

namespace __gnu_cxx {
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {

__attribute__((destructor)) void ReleaseRuntimePools() { __gnu_cxx::__freeres(); }

}  // namespace

#endif
