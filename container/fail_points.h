// Places where the container code can be made to fail on purpose, so that
// tests run its failure paths (the exception log, the failure results) for
// real instead of imitating them.
//
//   FailPoint::Allocation      the allocation of a container or of an item
//                              store throws std::bad_alloc;
//   FailPoint::ContainerAccess the guarded work of an export that catches
//                              exceptions throws std::runtime_error, as a
//                              fault inside the container would.
//
// A point is armed to let `passes` hits through and fail the next one, once;
// then it is disarmed again. Disarmed, a hit costs one relaxed atomic load.
// Arming and hitting are safe from any thread.
#pragma once

namespace zem {

enum class FailPoint { Allocation, ContainerAccess };

void armFailPoint(FailPoint point, int passes = 0);
void disarmFailPoints();

// Throws when the point is armed and its passes are used up.
void hitFailPoint(FailPoint point);

}  // namespace zem
