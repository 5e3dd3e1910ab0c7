#pragma once

#include <algorithm>
#include <cstdint>

#include "ami/AmiModelInstance.h"

// The receiver's column loop: columns 0 to aggressors of a column-major matrix, each through a
// complete lifecycle so that no filter state carries from one column to the next. A column goes
// through the model's block path when it takes it (RunBlock answers true), else sample by sample.
// A failure stops at the failing sample (it and the rest keep their values), still finalizes,
// and leaves later columns untouched. Without rows every column is the same empty work, so one
// lifecycle stands for them all: it still reports what Setup or Initialize finds.
template <class Instance>
bool FilterColumns(Instance& instance, double* matrix, std::int32_t rows, std::int32_t aggressors,
                   const AmiLifecycleLines& lines) {
    auto& model = instance.model;
    bool ok = true;
    const std::int64_t lastColumn = rows > 0 ? aggressors : std::min<std::int64_t>(aggressors, 0);
    for (std::int64_t column = 0; column <= lastColumn && ok; ++column) {
        if (!model.Setup()) {
            instance.Log(lines.setup);
            ok = false;
        } else if (!model.Initialize()) {
            instance.Log(lines.initialize);
            ok = false;
        } else if (rows > 0) {  // no pointer is formed for an empty column: matrix may be null
            double* samples = matrix + column * rows;  // 64-bit: no 32-bit overflow
            if (!model.RunBlock(samples, rows)) {
                for (std::int32_t i = 0; i < rows; ++i) {
                    if (!instance.Process(samples[i])) {
                        instance.Log(lines.run);
                        ok = false;
                        break;
                    }
                }
            }
        }
        if (!model.Finalize()) {
            instance.Log(lines.finalize);
            ok = false;
        }
    }
    return ok;
}
