// The guard around every command: nothing thrown below the entry point crosses into the host.
// An error code thrown as an integer comes back unchanged; an allocation failure becomes
// PF_Err_OUT_OF_MEMORY and any other exception PF_Err_INTERNAL_STRUCT_DAMAGED.
#pragma once
#include <new>

#include "AE_Effect.h"

namespace lumet {

template <typename Handler>
PF_Err runGuarded(Handler&& handler) noexcept {
    try {
        return handler();
    } catch (PF_Err err) {
        return err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

}  // namespace lumet
