#pragma once
// Code for the CPU's wider vector units, chosen at run time: the functions
// between KV_VECTOR_CODE_BEGIN("avx2") and KV_VECTOR_CODE_END are compiled
// for those units, and are called only when the CPU says it has them.
#include <algorithm>
#include <atomic>

namespace kv {

// The vector units a loop may use, each level with those below it.
enum class VectorUnits { none, avx2, avx512 };

// The widest this CPU has, at most the limit below.
inline VectorUnits widestVectorUnits();

namespace detail {
inline std::atomic<VectorUnits> vectorUnitsLimit{VectorUnits::avx512};
}  // namespace detail

// While it lives, loops use no wider units than `units`, so that tests
// reach the narrower versions on any CPU. Set while no loop runs.
class VectorUnitsLimit {
public:
    explicit VectorUnitsLimit(VectorUnits units) : before_(detail::vectorUnitsLimit.exchange(units)) {}
    ~VectorUnitsLimit() { detail::vectorUnitsLimit.store(before_); }
    VectorUnitsLimit(const VectorUnitsLimit&) = delete;
    VectorUnitsLimit& operator=(const VectorUnitsLimit&) = delete;

private:
    VectorUnits before_;
};

}  // namespace kv

#if defined(__x86_64__) && defined(__GNUC__)

// Set where the vector code below can be compiled; the callers' loops for
// those units stand between `#if defined(KV_X86_VECTOR_CODE)` and its end.
#define KV_X86_VECTOR_CODE 1

#define KV_PRAGMA(...) _Pragma(#__VA_ARGS__)
#if defined(__clang__)
#define KV_VECTOR_CODE_BEGIN(features) \
    KV_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define KV_VECTOR_CODE_END KV_PRAGMA(clang attribute pop)
#else
#define KV_VECTOR_CODE_BEGIN(features) KV_PRAGMA(GCC push_options) KV_PRAGMA(GCC target(features))
#define KV_VECTOR_CODE_END KV_PRAGMA(GCC pop_options)
#endif

// Code for AVX-512 with its byte and word instructions. GCC 12 takes the
// undefined upper halves its own AVX-512 intrinsics start from for
// uninitialized values, so that warning is off in between.
#if defined(__clang__)
#define KV_AVX512_CODE_BEGIN KV_VECTOR_CODE_BEGIN("avx512f,avx512bw")
#define KV_AVX512_CODE_END KV_VECTOR_CODE_END
#else
#define KV_AVX512_CODE_BEGIN                                                          \
    KV_PRAGMA(GCC diagnostic push) KV_PRAGMA(GCC diagnostic ignored "-Wmaybe-uninitialized") \
    KV_VECTOR_CODE_BEGIN("avx512f,avx512bw")
#define KV_AVX512_CODE_END KV_VECTOR_CODE_END KV_PRAGMA(GCC diagnostic pop)
#endif

namespace kv {

// Whether this CPU has AVX2, and FMA with it, or AVX-512 with its byte and
// word instructions; each asked once.
inline bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
inline bool cpuHasAvx2AndFma() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}
inline bool cpuHasAvx512() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}

inline VectorUnits widestVectorUnits() {
    const VectorUnits cpu = cpuHasAvx512() ? VectorUnits::avx512 : cpuHasAvx2() ? VectorUnits::avx2 : VectorUnits::none;
    return std::min(cpu, detail::vectorUnitsLimit.load(std::memory_order_relaxed));
}

}  // namespace kv

#else

namespace kv {
inline VectorUnits widestVectorUnits() { return VectorUnits::none; }
}  // namespace kv

#endif
