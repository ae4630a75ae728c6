#pragma once

#include "composition/quillow_error.h"

#include <QString>

// The message of the QuillowError `call` throws; empty when it throws none.
template <typename Call> QString errorOf(Call call)
{
    try {
        call();
    } catch (const QuillowError &error) {
        return error.message();
    }
    return {};
}
