#include "layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace velko::layout {

namespace {

constexpr double kFallbackSize = 10.0;
constexpr std::size_t kSmallestCuttable = 4;
constexpr double kColumnSearchHeight = 1.8;
constexpr double kColumnSide = 5.0;
constexpr double kTallGroup = 8.0;
constexpr double kTallColumnGap = 0.9;
constexpr double kShortColumnGap = 1.5;
constexpr double kRowGap = 1.0;

struct Interval {
  double lo;
  double hi;
};


Interval extent(const Item& it, Axis axis) {
  return axis == Axis::Horizontal ? Interval{it.x0, it.x1} : Interval{it.y0, it.y1};
}

}  // namespace

double median_size(std::span<const Item> items, const Group& group) {
  if (group.empty()) return kFallbackSize;
  std::vector<double> sizes;
  sizes.reserve(group.size());
  for (std::size_t i : group) sizes.push_back(items[i].size);
  // Only the middle element matters, and equal keys under the total order are the same
  // bit pattern, so a selection gives the same value a full sort would.
  const auto mid = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
  std::nth_element(sizes.begin(), mid, sizes.end(), total_less);
  const double m = *mid;
  return m > 0 ? m : kFallbackSize;  // NaN fails the comparison too
}

std::optional<Gap> widest_gap(std::span<const Item> items, const Group& group, Axis axis,
                              double min_side) {
  if (group.size() < 2) return std::nullopt;
  // Sort compact (key, position) pairs: the position breaks ties, so the sort is stable.
  std::vector<std::pair<std::int64_t, std::size_t>> keyed;
  keyed.reserve(group.size());
  for (std::size_t k = 0; k < group.size(); ++k) {
    keyed.emplace_back(total_order_key(extent(items[group[k]], axis).lo), k);
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<Interval> iv;
  iv.reserve(keyed.size());
  for (const auto& [key, k] : keyed) iv.push_back(extent(items[group[k]], axis));

  double high = NAN;  // the largest high end, NaN values skipped
  for (const Interval& v : iv) {
    if (std::isnan(high) || v.hi > high) high = v.hi;
  }
  const double low = iv.front().lo;
  double reach = iv.front().hi;
  std::optional<Gap> best;
  for (std::size_t k = 1; k < iv.size(); ++k) {
    const Interval& v = iv[k];
    const double width = v.lo - reach;
    if (reach - low >= min_side && width > 0 && high - v.lo >= min_side) {
      if (!best || width > best->width) best = Gap{width, reach};
    }
    if (v.hi > reach || std::isnan(reach)) {
      if (!std::isnan(v.hi)) reach = v.hi;
    }
  }
  return best;
}

void cut(std::span<const Item> items, Group group, bool rtl, std::size_t depth,
         std::vector<Group>& out) {
  if (group.empty()) return;
  if (depth >= kMaxDepth || group.size() < kSmallestCuttable) {
    out.push_back(std::move(group));
    return;
  }
  const double m = median_size(items, group);

  double top = NAN, bottom = NAN;  // extremes with NaN skipped
  for (std::size_t i : group) {
    const Item& it = items[i];
    if (std::isnan(top) || it.y1 > top) top = std::isnan(it.y1) ? top : it.y1;
    if (std::isnan(bottom) || it.y0 < bottom) bottom = std::isnan(it.y0) ? bottom : it.y0;
  }
  const double height = top - bottom;

  std::optional<Gap> column;
  if (height >= kColumnSearchHeight * m) {
    column = widest_gap(items, group, Axis::Horizontal, kColumnSide * m);
  }
  const std::optional<Gap> row = widest_gap(items, group, Axis::Vertical, 0.0);
  const double t = height < kTallGroup * m ? kShortColumnGap * m : kTallColumnGap * m;

  std::optional<Axis> chosen;
  if (column && row) {
    if (column->width >= t && column->width > row->width) {
      chosen = Axis::Horizontal;
    } else if (row->width >= kRowGap * m) {
      chosen = Axis::Vertical;
    } else if (column->width >= t) {
      chosen = Axis::Horizontal;
    }
  } else if (column) {
    if (column->width >= t) chosen = Axis::Horizontal;
  } else if (row) {
    if (row->width >= kRowGap * m) chosen = Axis::Vertical;
  }
  if (!chosen) {
    out.push_back(std::move(group));
    return;
  }

  // A cut along the horizontal extent is a vertical line between columns.
  const bool vertical_cut = *chosen == Axis::Horizontal;
  const double start = vertical_cut ? column->start : row->start;
  Group low, high;
  for (std::size_t i : group) {
    const double far = vertical_cut ? items[i].x1 : items[i].y1;
    (far <= start ? low : high).push_back(i);
  }
  if (low.empty() || high.empty()) {
    out.push_back(std::move(group));
    return;
  }
  Group().swap(group);  // release the parent list before recursing

  // Upper part first (y grows upward); right-hand column first on a right-to-left page.
  const bool high_first = !vertical_cut || rtl;
  if (high_first) {
    cut(items, std::move(high), rtl, depth + 1, out);
    cut(items, std::move(low), rtl, depth + 1, out);
  } else {
    cut(items, std::move(low), rtl, depth + 1, out);
    cut(items, std::move(high), rtl, depth + 1, out);
  }
}

std::vector<Group> segment(std::span<const Item> items, bool rtl) {
  std::vector<Group> out;
  if (items.empty()) return out;
  Group all(items.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  cut(items, std::move(all), rtl, 0, out);
  return out;
}

}  // namespace velko::layout
