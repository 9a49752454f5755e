#include "Parallel.h"

#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <Standard_Failure.hxx>

namespace nimbo::detail {

int threadsFor(int requested) {
  return requested > 0 ? requested : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void rethrowAsNimboException(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const nimbo_exception &) {
    throw;
  } catch (const Standard_Failure &failure) {
    throw nimbo_exception(kernelFailureText(failure));
  } catch (const std::exception &other) {
    throw nimbo_exception(other.what());
  } catch (...) {
    throw nimbo_exception("An unknown failure ended a task");
  }
}

}  // namespace nimbo::detail
