#include "core/stack.h"

namespace qapi {

StackState &stack() {
    static StackState state;
    return state;
}

}  // namespace qapi
