// The host's unit handler, which the C interface headers we build against leave out: the
// plug-in tells the host through it that a program list's names changed. A host that
// has one answers its interface id on the component handler.
#pragma once

#include <travesty/base.h>

struct v3_unit_handler {
    v3_result(V3_API* notify_unit_selection)(void* self, int32_t unit_id);
    // `program_idx` -1: every program of the list.
    v3_result(V3_API* notify_program_list_change)(void* self, int32_t list_id, int32_t program_idx);
};

static constexpr const v3_tuid v3_unit_handler_iid = V3_ID(0x4B5147F8, 0x4654486B, 0x8DAB30BA, 0x163A3C56);

struct v3_unit_handler_cpp : v3_funknown {
    v3_unit_handler handler;
};
