// Runs into the limits that the stub's runtime pieces (stub_runtime.cc) handle, built as the
// stub is: without exceptions. The argument says which; main returns 0 where the limit is met
// as it should be without ending the process, 2 for anything unexpected.
//   nothrow   new (std::nothrow) of more than any process can have gives null
//   new       operator new of that much ends the process with error 8 and its report
//   string    a string asked to grow beyond its largest size: error 8
//   misuse    a substring from beyond the string's end: error 1359
#include <cstddef>
#include <limits>
#include <new>
#include <string>

namespace {

// Far more than any process can get, yet a size the allocation functions accept (read at run
// time, so that the compiler does not refuse it).
volatile std::size_t g_huge = std::numeric_limits<std::size_t>::max() / 4;
// Keeps the compiler from leaving out allocations whose result is unused.
void* volatile g_sink;

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const std::size_t huge = g_huge;
  if (what == "nothrow") return new (std::nothrow) char[huge] == nullptr ? 0 : 2;
  if (what == "new") g_sink = ::operator new(huge);
  if (what == "string") {
    std::string s;
    s.reserve(s.max_size() + 1);
    g_sink = &s;
  }
  if (what == "misuse") g_sink = new std::string(what.substr(what.size() + 1));
  return 2;
}
