// Line layout: runs sorted top to bottom, grouped by baseline, joined with
// spaces at visible gaps.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "model/extracted_doc.h"
#include "page/text.h"

namespace vellum {

// How the gap between two neighbouring runs of a line is measured.
//  UserSpace: from the previous run's end_x to the next run's x, against a
//    fifth of the next run's effective (matrix-scaled) size. The default.
//  UnscaledWidth: from prev.x + prev.width to next.x, against a fifth of the
//    unscaled size. Mixes user space with text space, so text set at a small
//    size under a scaling matrix gets spaces inside words; kept only to
//    measure the difference on real files.
// The two agree exactly wherever the text matrix times the CTM is a pure
// translation.
enum class GapMeasure { UserSpace, UnscaledWidth };

// Which font size sets how far a run's baseline may lie from the line's
// first run (half the larger of the two sizes, at least 1.0).
//  UserSpace: the smaller of Tfs and the effective (matrix-scaled) size:
//    where the matrices scale text down, the size in the same unit as the
//    baselines; where they scale it up, Tfs as before. The default.
//  UnscaledSize: Tfs as the Tf operator set it. Text set at 180 and scaled
//    down by 0.05 then swallows every baseline within 90 units (several
//    lines of 9-point text) into one line; kept to measure the difference.
// The two agree wherever the text matrix times the CTM does not scale.
enum class LineTolerance { UserSpace, UnscaledSize };

// One line from its runs, in line order.
Line make_line(std::span<const TextRun* const> runs, GapMeasure measure = GapMeasure::UserSpace);

PageText layout_page(const std::vector<TextRun>& runs, const std::array<double, 4>& media_box,
                     GapMeasure measure = GapMeasure::UserSpace,
                     LineTolerance tolerance = LineTolerance::UserSpace);

}  // namespace vellum
