// The System in force: the real one, or a test's replacement.
#include "platform/platform.hpp"

namespace vellumo::platform {
namespace {

System real_system;
System* current = &real_system;

}  // namespace

System& os() { return *current; }

ScopedSystem::ScopedSystem(System& replacement) : previous_(current) { current = &replacement; }

ScopedSystem::~ScopedSystem() { current = previous_; }

}  // namespace vellumo::platform
