// Construction of a selector.
#include "zub_selector.h"

Selector::Selector() = default;

Selector::Selector(SelectorEnv env) : env_(std::move(env)) {}
