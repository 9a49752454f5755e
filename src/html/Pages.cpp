// The pages of the jobs: which colour each part gets, and the table whose rows frame them.
#include <nimbo/html/Html.h>

#include <cmath>
#include <cstdio>
#include <set>

namespace nimbo {
namespace {

const Color grey{0.62, 0.64, 0.67}, red{0.86, 0.08, 0.08}, blue{0.1, 0.35, 0.85}, orange{0.96, 0.55, 0.1},
    green{0.2, 0.7, 0.25}, paleRed{0.95, 0.55, 0.55}, paleBlue{0.55, 0.68, 0.95};

std::string figure(double value, const char *unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g %s", value, unit);
  return text;
}

// A name no other entry of the page has, from `wanted`.
std::string freeName(const Page &page, const std::string &wanted) {
  std::set<std::string> taken;
  for (const PagePart &part : page.parts) taken.insert(part.name);
  std::string name = wanted;
  for (int k = 2; taken.count(name); ++k) name = wanted + " #" + std::to_string(k);
  return name;
}

}  // namespace

Page partsPage(const std::vector<Part> &parts, const std::string &title) {
  Page page{title, std::to_string(parts.size()) + (parts.size() == 1 ? " part" : " parts"), {}, {}, {}, {}};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    page.parts.push_back({parts[i].path, parts[i].shape, parts[i].color.value_or(paletteColor(i)), false, ""});
  }
  return page;
}

Page clashPage(const std::vector<Part> &parts, const Interferences &found, const std::string &title) {
  Page page;
  page.title = title;
  char summary[256];
  std::snprintf(summary, sizeof summary, "%zu parts: %zu overlaps, %zu contacts, %zu clearances, %zu failures",
                parts.size(), found.overlaps.size(), found.contacts.size(), found.clearances.size(),
                found.failures.size());
  page.summary = summary;
  std::vector<Color> colors(parts.size(), grey);
  for (const Contact &c : found.contacts) colors[c.first] = colors[c.second] = paleBlue;
  for (const Overlap &o : found.overlaps) colors[o.first] = colors[o.second] = paleRed;
  for (std::size_t i = 0; i < parts.size(); ++i)
    page.parts.push_back({parts[i].path, parts[i].shape, colors[i], false, ""});

  PageTable findings{"findings", "Findings", {"kind", "first", "second", "figure"}, {}};
  const auto add = [&](const PartPair &pair, const std::string &kind, const std::string &what,
                       const TopoDS_Shape &region, const Color &color, const char *between) {
    const std::string &first = parts[pair.first].path, &second = parts[pair.second].path;
    PageRow row{{kind, first, second, what}, {first, second}};
    if (!region.IsNull()) {
      row.parts.push_back(freeName(page, first + between + second));
      page.parts.push_back({row.parts.back(), region, color, false, kind, true});
    }
    findings.rows.push_back(row);
  };
  for (const Overlap &o : found.overlaps) add(o, "overlap", "volume " + figure(o.volume, "mm^3"), o.region, red, " x ");
  for (const Contact &c : found.contacts) {
    const std::string what = c.kind == ContactKind::face ? "face, area " + figure(c.area, "mm^2") : toString(c.kind);
    add(c, "contact", what, c.faces, blue, " | ");
  }
  for (const Clearance &c : found.clearances) {
    add(c, "clearance", "distance " + figure(c.distance, "mm"), TopoDS_Shape(), grey, "");
  }
  for (const PairFailure &f : found.failures) add(f, "failure", f.message, TopoDS_Shape(), grey, "");
  page.tables.push_back(findings);
  page.legend = {{"overlapping parts", paleRed},
                 {"common region", red},
                 {"touching parts", paleBlue},
                 {"shared faces", blue},
                 {"other parts", grey}};
  return page;
}

Page diffPage(const std::vector<Part> &before, const std::vector<Part> &after, const AssemblyDiff &diff,
              const std::string &title) {
  Page page;
  page.title = title;
  char summary[256];
  std::snprintf(summary, sizeof summary, "%zu unchanged, %zu moved, %zu modified, %zu added, %zu removed",
                diff.unchanged.size(), diff.moved.size(), diff.modified.size(), diff.added.size(), diff.removed.size());
  page.summary = summary;
  std::vector<Color> colors(after.size(), grey);
  std::vector<std::string> kinds(after.size());
  for (const Motion &m : diff.moved) colors[m.after] = blue, kinds[m.after] = "moved";
  for (const Modification &m : diff.modified) colors[m.after] = orange, kinds[m.after] = "modified";
  for (const std::size_t j : diff.added) colors[j] = green, kinds[j] = "added";
  for (std::size_t j = 0; j < after.size(); ++j)
    page.parts.push_back({after[j].path, after[j].shape, colors[j], false, kinds[j]});

  PageTable changes{"changes", "Changes", {"change", "part", "how"}, {}};
  const auto pathText = [&](std::size_t i, std::size_t j) {
    return before[i].path == after[j].path ? after[j].path : before[i].path + " -> " + after[j].path;
  };
  for (const PartMatch &m : diff.renamed)
    changes.rows.push_back({{"renamed", pathText(m.before, m.after), ""}, {after[m.after].path}});
  for (const Motion &m : diff.moved) {
    char how[160];
    std::snprintf(how, sizeof how, "by %.6g mm", m.translation.Magnitude());
    std::string text = how;
    if (m.angle > 0) {
      std::snprintf(how, sizeof how, ", turned %.6g deg about (%.4g, %.4g, %.4g)", m.angle, m.axis.X(), m.axis.Y(),
                    m.axis.Z());
      text += how;
    }
    const std::string old = freeName(page, after[m.after].path + " (before)");
    page.parts.push_back({old, before[m.before].shape, blue, true, "before"});
    changes.rows.push_back({{"moved", pathText(m.before, m.after), text}, {after[m.after].path, old}});
  }
  for (const Modification &m : diff.modified) {
    changes.rows.push_back({{"modified", pathText(m.before, m.after),
                             "volume " + figure(m.volumeBefore, "mm^3") + " -> " + figure(m.volumeAfter, "mm^3") +
                                 ", added " + figure(m.added, "mm^3") + ", removed " + figure(m.removed, "mm^3")},
                            {after[m.after].path}});
  }
  for (const std::size_t j : diff.added) changes.rows.push_back({{"added", after[j].path, ""}, {after[j].path}});
  for (const std::size_t i : diff.removed) {
    const std::string name = freeName(page, before[i].path);
    page.parts.push_back({name, before[i].shape, red, true, "removed"});
    changes.rows.push_back({{"removed", before[i].path, ""}, {name}});
  }
  page.tables.push_back(changes);
  page.legend = {{"unchanged", grey},
                 {"moved (ghost: before)", blue},
                 {"modified", orange},
                 {"added", green},
                 {"removed (ghost)", red}};
  return page;
}

}  // namespace nimbo
