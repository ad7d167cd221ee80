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

namespace {

// The group's item indices ordered by the low end of their interval on the axis (IEEE total
// order), ties kept in group order.
Group sorted_by_low(std::span<const Item> items, const Group& group, Axis axis) {
  // Sort compact (key, position) pairs: the position breaks ties, so the sort is stable.
  std::vector<std::pair<std::int64_t, std::size_t>> keyed;
  keyed.reserve(group.size());
  for (std::size_t k = 0; k < group.size(); ++k) {
    keyed.emplace_back(total_order_key(extent(items[group[k]], axis).lo), k);
  }
  std::sort(keyed.begin(), keyed.end());
  Group order;
  order.reserve(keyed.size());
  for (const auto& [key, k] : keyed) order.push_back(group[k]);
  return order;
}

// The widest gap over intervals already in low-end order.
std::optional<Gap> gap_in_order(std::span<const Item> items, const Group& order, Axis axis,
                                double min_side) {
  if (order.size() < 2) return std::nullopt;
  double high = NAN;  // the largest high end, NaN values skipped
  for (std::size_t i : order) {
    const double hi = extent(items[i], axis).hi;
    if (std::isnan(high) || hi > high) high = hi;
  }
  const Interval first = extent(items[order.front()], axis);
  const double low = first.lo;
  double reach = first.hi;
  std::optional<Gap> best;
  for (std::size_t k = 1; k < order.size(); ++k) {
    const Interval v = extent(items[order[k]], axis);
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

// The group with its items in low-end order along both axes. Splitting a group keeps both
// orders by filtering, so each level of the recursion walks its intervals in linear time
// instead of sorting them again.
struct Ordered {
  Group group;
  Group by_x;
  Group by_y;
};

void cut_ordered(std::span<const Item> items, Ordered g, bool rtl, std::size_t depth,
                 std::vector<Group>& out, std::vector<std::uint8_t>& high_side) {
  Group& group = g.group;
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
    column = gap_in_order(items, g.by_x, Axis::Horizontal, kColumnSide * m);
  }
  const std::optional<Gap> row = gap_in_order(items, g.by_y, Axis::Vertical, 0.0);
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
  Ordered low, high;
  for (std::size_t i : group) {
    const double far = vertical_cut ? items[i].x1 : items[i].y1;
    const bool is_high = !(far <= start);
    high_side[i] = is_high ? 1 : 0;
    (is_high ? high : low).group.push_back(i);
  }
  if (low.group.empty() || high.group.empty()) {
    out.push_back(std::move(group));
    return;
  }
  for (std::size_t i : g.by_x) (high_side[i] ? high : low).by_x.push_back(i);
  for (std::size_t i : g.by_y) (high_side[i] ? high : low).by_y.push_back(i);
  Group().swap(group);  // release the parent lists before recursing
  Group().swap(g.by_x);
  Group().swap(g.by_y);

  // Upper part first (y grows upward); right-hand column first on a right-to-left page.
  const bool high_first = !vertical_cut || rtl;
  if (high_first) {
    cut_ordered(items, std::move(high), rtl, depth + 1, out, high_side);
    cut_ordered(items, std::move(low), rtl, depth + 1, out, high_side);
  } else {
    cut_ordered(items, std::move(low), rtl, depth + 1, out, high_side);
    cut_ordered(items, std::move(high), rtl, depth + 1, out, high_side);
  }
}

}  // namespace

std::optional<Gap> widest_gap(std::span<const Item> items, const Group& group, Axis axis,
                              double min_side) {
  if (group.size() < 2) return std::nullopt;
  return gap_in_order(items, sorted_by_low(items, group, axis), axis, min_side);
}

void cut(std::span<const Item> items, Group group, bool rtl, std::size_t depth,
         std::vector<Group>& out) {
  if (group.empty()) return;
  Ordered g;
  g.by_x = sorted_by_low(items, group, Axis::Horizontal);
  g.by_y = sorted_by_low(items, group, Axis::Vertical);
  g.group = std::move(group);
  std::vector<std::uint8_t> high_side(items.size(), 0);
  cut_ordered(items, std::move(g), rtl, depth, out, high_side);
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
