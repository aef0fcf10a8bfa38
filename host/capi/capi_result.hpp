// The object behind audiomeas_result, and the guard that keeps every
// exception on the C++ side, for each file of exported C names.
#pragma once

#include <new>
#include <string>
#include <vector>

#include "audiomeas.h"
#include "report.hpp"
#include "status.hpp"

struct audiomeas_result {
  std::string json;
  std::vector<double> samples;
  int code = audiomeas::host::kExitBadInput;
};

namespace audiomeas::host::capi {

// The result handed out when not even a result can be allocated: shared,
// never freed (audiomeas_result_free passes it by), so that no call returns
// NULL.
inline audiomeas_result* outOfMemory() {
  static audiomeas_result r{R"({"error":"out of memory"})", {}, kExitBadInput};
  return &r;
}

// Runs f, turning every failure into a result that says what went wrong:
// no exception crosses the C boundary.
template <class F>
audiomeas_result* run(F f) {
  auto* r = new (std::nothrow) audiomeas_result;
  if (r == nullptr) return outOfMemory();
  try {
    f(*r);
  } catch (const Failure& e) {
    r->code = e.code();
    r->samples.clear();
    Json error{{"error", e.what()}};
    if (const auto* input = dynamic_cast<const InputError*>(&e)) {
      error["argument"] = input->argument();
      error["index"] = input->index() >= 0 ? Json(input->index()) : Json();
    }
    if (const auto* memory = dynamic_cast<const MemoryShortfall*>(&e)) {
      error["needed_bytes"] = memory->needed();
      error["available_bytes"] = memory->available();
    }
    r->json = error.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::bad_alloc&) {
    r->code = kExitBadInput;
    r->samples.clear();
    r->json = R"({"error":"out of memory"})";
  } catch (const std::exception& e) {
    r->code = kExitBadInput;
    r->samples.clear();
    r->json = Json{{"error", e.what()}}.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  return r;
}

}  // namespace audiomeas::host::capi
