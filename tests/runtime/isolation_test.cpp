// All three libraries in one process, loaded RTLD_GLOBAL beside a host that
// defines its own sum, rms and combineVectorElements: each library must still
// compute with its own code and its own constants. A library whose internal
// calls went through an exported name would pick up the host's or another
// library's definition here.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audiomeas_types.h"

// The host's own functions under the libraries' exported names; this
// executable exports them (-rdynamic), so the dynamic linker prefers them.
extern "C" {
__attribute__((visibility("default"))) double sum(const void*) { return 999.0; }
__attribute__((visibility("default"))) double rms(const void*) { return 999.0; }
__attribute__((visibility("default"))) double combineVectorElements(const void*) { return 999.0; }
}

namespace {

void* load(const char* name) {
  const std::string path = std::string(AUDIOMEAS_LIB_DIR) + "/" + name;
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  EXPECT_NE(h, nullptr) << dlerror();
  return h;
}

template <class F>
F fn(void* h, const char* name) {
  void* p = dlsym(h, name);
  EXPECT_NE(p, nullptr) << name;
  F f;
  std::memcpy(&f, &p, sizeof f);
  return f;
}

TEST(Isolation, EachLibraryUsesItsOwnCode) {
  void* synkro = load("libsynkro.so");
  void* envelo = load("libenvelo.so");
  void* burstra = load("libburstra.so");
  ASSERT_TRUE(synkro && envelo && burstra);
  fn<void (*)()>(burstra, "burstra_initialize")();
  fn<void (*)()>(envelo, "envelo_estimation_initialize")();

  std::vector<double> v = {3.0, 4.0};
  int32_T size[1] = {2};
  emxBuffer_real_T x{v.data(), size, 2, 1, false};

  using Reduce = double (*)(const emxBuffer_real_T*);
  EXPECT_EQ(fn<Reduce>(burstra, "sum")(&x), 7.0);
  EXPECT_EQ(fn<Reduce>(burstra, "combineVectorElements")(&x), 7.0);
  EXPECT_EQ(fn<Reduce>(burstra, "rms")(&x), std::sqrt(12.5));
  EXPECT_EQ(fn<Reduce>(envelo, "b_sum")(&x), 7.0);

  // Each library's globals are its own and initialised.
  EXPECT_TRUE(std::isinf(*fn<double*>(burstra, "rtInf")));
  EXPECT_TRUE(std::isinf(*fn<double*>(envelo, "rtInf")));
  using IsInf = boolean_T (*)(double);
  EXPECT_FALSE(fn<IsInf>(envelo, "rtIsInf")(5.0));
  EXPECT_TRUE(fn<IsInf>(burstra, "rtIsInf")(INFINITY));

  dlclose(burstra);
  dlclose(envelo);
  dlclose(synkro);
}

}  // namespace
