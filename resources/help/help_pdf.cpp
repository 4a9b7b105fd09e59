// zivra_help_pdf SOURCE OUTPUT: lays out the help document from its text source into an A4 PDF
// with Pango and Cairo, the fonts embedded as subsets. The output depends only on the source and
// the installed fonts: the document's dates come from the source's "% date:" line.
//
// Source format, one block per paragraph (blocks are separated by blank lines):
//   % title: TEXT / % date: YYYY-MM-DD    document information (at the top)
//   # TEXT      the document title          ## TEXT   a section (also a PDF bookmark)
//   ### TEXT    a subsection                - TEXT    a bullet item
//   1. TEXT     a numbered step             > TEXT    a note
//   four spaces of indentation: a line of code, kept as it is
// Inside a block, `code` is set in the monospaced face and **text** in bold. A line indented by
// two spaces continues the item above it.
#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kPageWidth = 595.276;  // A4 in points
constexpr double kPageHeight = 841.89;
constexpr double kMarginX = 62;
constexpr double kMarginTop = 60;
constexpr double kMarginBottom = 66;
constexpr double kIndent = 20;
constexpr const char* kFamily = "Noto Sans CJK TC";
constexpr const char* kMonoFamily = "DejaVu Sans Mono";

enum class Kind { Title, Section, Subsection, Paragraph, Bullet, Step, Note, Code };

struct Block {
  Kind kind;
  std::string text;
  int number = 0;  // of a step
};

struct Document {
  std::string title;
  std::string date;
  std::vector<Block> blocks;
};

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

Document Parse(std::istream& in) {
  Document doc;
  std::string line;
  Block* open = nullptr;  // a block that following lines may continue
  auto add = [&](Kind kind, std::string text, int number = 0) {
    doc.blocks.push_back({kind, std::move(text), number});
    open = &doc.blocks.back();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (StartsWith(line, "% title:")) { doc.title = Trim(line.substr(8)); continue; }
    if (StartsWith(line, "% date:")) { doc.date = Trim(line.substr(7)); continue; }
    if (StartsWith(line, "    ")) {
      if (open != nullptr && open->kind == Kind::Code) {
        open->text += "\n" + line.substr(4);
      } else {
        add(Kind::Code, line.substr(4));
      }
      continue;
    }
    const std::string t = Trim(line);
    if (t.empty()) { open = nullptr; continue; }
    if (StartsWith(t, "### ")) { add(Kind::Subsection, t.substr(4)); open = nullptr; continue; }
    if (StartsWith(t, "## ")) { add(Kind::Section, t.substr(3)); open = nullptr; continue; }
    if (StartsWith(t, "# ")) { add(Kind::Title, t.substr(2)); open = nullptr; continue; }
    if (StartsWith(t, "- ")) { add(Kind::Bullet, t.substr(2)); continue; }
    if (StartsWith(t, "> ")) {
      if (open != nullptr && open->kind == Kind::Note) {
        open->text += t.substr(2);
      } else {
        add(Kind::Note, t.substr(2));
      }
      continue;
    }
    const auto dot = t.find(". ");
    if (dot != std::string::npos && dot > 0 && dot < 3 && t.find_first_not_of("0123456789") == dot) {
      add(Kind::Step, t.substr(dot + 2), std::stoi(t.substr(0, dot)));
      continue;
    }
    if (open != nullptr && open->kind != Kind::Code) {
      // A continuation line: CJK text joins without a space, other text with one.
      const unsigned char last = static_cast<unsigned char>(open->text.back());
      const unsigned char first = static_cast<unsigned char>(t.front());
      if (last < 0x80 && first < 0x80) open->text += ' ';
      open->text += t;
      continue;
    }
    add(Kind::Paragraph, t);
  }
  return doc;
}

std::string Escape(const std::string& s) {
  char* e = g_markup_escape_text(s.c_str(), static_cast<gssize>(s.size()));
  std::string out(e);
  g_free(e);
  return out;
}

// `code` and **bold** into Pango markup; everything else escaped.
std::string InlineMarkup(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '`') {
      const auto end = text.find('`', i + 1);
      if (end != std::string::npos) {
        out += std::string("<span font_family=\"") + kMonoFamily + "\" size=\"92%\" background=\"#eef1f4\">" +
               Escape(text.substr(i + 1, end - i - 1)) + "</span>";
        i = end + 1;
        continue;
      }
    }
    if (text.compare(i, 2, "**") == 0) {
      const auto end = text.find("**", i + 2);
      if (end != std::string::npos) {
        out += "<b>" + Escape(text.substr(i + 2, end - i - 2)) + "</b>";
        i = end + 2;
        continue;
      }
    }
    const auto next = text.find_first_of("`*", i + 1);
    const auto stop = next == std::string::npos ? text.size() : next;
    out += Escape(text.substr(i, stop - i));
    i = stop;
  }
  return out;
}

struct Style {
  const char* family;
  double size;
  PangoWeight weight;
  double before;  // space above, points
  double after;   // space below
  double indent;
  const char* color;
};

Style StyleOf(Kind kind) {
  switch (kind) {
    case Kind::Title: return {kFamily, 22, PANGO_WEIGHT_BOLD, 0, 14, 0, "#1d2733"};
    case Kind::Section: return {kFamily, 15, PANGO_WEIGHT_BOLD, 16, 6, 0, "#2b4c7e"};
    case Kind::Subsection: return {kFamily, 12, PANGO_WEIGHT_BOLD, 10, 4, 0, "#1d2733"};
    case Kind::Paragraph: return {kFamily, 10.5, PANGO_WEIGHT_NORMAL, 0, 7, 0, "#1d2733"};
    case Kind::Bullet: return {kFamily, 10.5, PANGO_WEIGHT_NORMAL, 0, 4, kIndent, "#1d2733"};
    case Kind::Step: return {kFamily, 10.5, PANGO_WEIGHT_NORMAL, 0, 4, kIndent, "#1d2733"};
    case Kind::Note: return {kFamily, 10, PANGO_WEIGHT_NORMAL, 2, 9, 12, "#44505c"};
    case Kind::Code: return {kMonoFamily, 9.5, PANGO_WEIGHT_NORMAL, 0, 8, 14, "#1d2733"};
  }
  return {kFamily, 10.5, PANGO_WEIGHT_NORMAL, 0, 6, 0, "#1d2733"};
}

void SetColor(cairo_t* cr, const char* hex) {
  unsigned r = 0, g = 0, b = 0;
  std::sscanf(hex, "#%2x%2x%2x", &r, &g, &b);
  cairo_set_source_rgb(cr, r / 255.0, g / 255.0, b / 255.0);
}

struct LayoutDeleter {
  void operator()(PangoLayout* l) const { g_object_unref(l); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

// One line of a laid-out block, placed on a page.
struct Placed {
  int page;
  double x;
  double baseline;
  PangoLayout* layout;
  int line;
  const char* color;
};

struct Box {  // a note's background
  int page;
  double top;
  double bottom;
};

struct Bookmark {
  int page;
  double y;
  std::string text;
};

LayoutPtr MakeLayout(cairo_t* cr, const Style& style, const std::string& markup, double width) {
  LayoutPtr layout(pango_cairo_create_layout(cr));
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, style.family);
  pango_font_description_set_size(font, static_cast<gint>(style.size * PANGO_SCALE));
  pango_font_description_set_weight(font, style.weight);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);
  pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  pango_layout_set_spacing(layout.get(), static_cast<int>(style.size * 0.45 * PANGO_SCALE));
  pango_context_set_language(pango_layout_get_context(layout.get()), pango_language_from_string("zh-tw"));
  pango_layout_context_changed(layout.get());
  pango_layout_set_markup(layout.get(), markup.c_str(), -1);
  return layout;
}

std::string PdfDate(const std::string& date) {
  // "YYYY-MM-DD" as the ISO form that cairo writes into the document information.
  return date.size() == 10 ? date + "T00:00:00Z" : "2000-01-01T00:00:00Z";
}

}  // namespace

// Fontconfig and Pango keep their caches until the process ends; in a sanitizer build that is not
// a leak of this program's making.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: zivra_help_pdf SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "zivra_help_pdf: cannot read " << argv[1] << "\n";
    return 1;
  }
  const Document doc = Parse(in);
  if (doc.blocks.empty()) {
    std::cerr << "zivra_help_pdf: " << argv[1] << " holds no text\n";
    return 1;
  }
  const std::string temp = std::string(argv[2]) + ".part";
  cairo_surface_t* surface = cairo_pdf_surface_create(temp.c_str(), kPageWidth, kPageHeight);
  cairo_pdf_surface_restrict_to_version(surface, CAIRO_PDF_VERSION_1_5);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, doc.title.c_str());
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_AUTHOR, "zivra");
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "zivra_help_pdf");
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, PdfDate(doc.date).c_str());
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_MOD_DATE, PdfDate(doc.date).c_str());
  cairo_t* cr = cairo_create(surface);

  // Pass 1: lay out every block and place its lines on pages.
  const double textWidth = kPageWidth - 2 * kMarginX;
  const double bottom = kPageHeight - kMarginBottom;
  std::vector<LayoutPtr> layouts;
  std::vector<Placed> placed;
  std::vector<Box> boxes;
  std::vector<Bookmark> bookmarks;
  int page = 0;
  double y = kMarginTop;
  for (std::size_t bi = 0; bi < doc.blocks.size(); ++bi) {
    const Block& block = doc.blocks[bi];
    const Style style = StyleOf(block.kind);
    if (y > kMarginTop) y += style.before;
    const double x = kMarginX + style.indent;
    std::string markup = block.kind == Kind::Code ? Escape(block.text) : InlineMarkup(block.text);
    layouts.push_back(MakeLayout(cr, style, markup, textWidth - style.indent - (block.kind == Kind::Note ? 12 : 0)));
    PangoLayout* layout = layouts.back().get();

    PangoLayout* marker = nullptr;
    if (block.kind == Kind::Bullet || block.kind == Kind::Step) {
      const std::string m = block.kind == Kind::Bullet ? "•" : std::to_string(block.number) + ".";
      layouts.push_back(MakeLayout(cr, style, Escape(m), kIndent));
      marker = layouts.back().get();
    }

    // A heading stays with the start of what follows it.
    const int lines = pango_layout_get_line_count(layout);
    const double lineStep = style.size * 1.45;
    double needed = lineStep * (lines < 2 ? lines : 2);
    if (block.kind == Kind::Section || block.kind == Kind::Subsection) {
      needed += style.after + 3 * 10.5 * 1.45;
      const bool nextIsHeading = bi + 1 < doc.blocks.size() && doc.blocks[bi + 1].kind == Kind::Subsection;
      if (nextIsHeading) {
        const Style next = StyleOf(Kind::Subsection);
        needed += next.before + next.size * 1.45 + next.after;
      }
    }
    if (y + needed > bottom) {
      ++page;
      y = kMarginTop;
    }
    if (block.kind == Kind::Section) bookmarks.push_back({page, y, block.text});

    const double boxTop = y - 4;
    int boxPage = page;
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    int line = 0;
    double firstTop = 0;
    do {
      int baseline = 0;
      PangoRectangle logical;
      pango_layout_iter_get_line_extents(iter, nullptr, &logical);
      baseline = pango_layout_iter_get_baseline(iter);
      const double top = logical.y / double(PANGO_SCALE);
      if (line == 0) firstTop = top;
      const double height = logical.height / double(PANGO_SCALE);
      double lineY = y + (top - firstTop);
      if (lineY + height > bottom) {  // this line goes on the next page
        if (block.kind == Kind::Note) boxes.push_back({boxPage, boxTop, y + (top - firstTop) + 2});
        ++page;
        firstTop = top;
        y = kMarginTop;
        lineY = y;
        boxPage = page;
      }
      const double base = lineY + (baseline / double(PANGO_SCALE) - top);
      placed.push_back({page, x, base, layout, line, style.color});
      if (line == 0 && marker != nullptr) {
        placed.push_back({page, kMarginX, base, marker, 0, style.color});
      }
      if (!pango_layout_iter_next_line(iter)) {
        y = lineY + height;
        break;
      }
      ++line;
    } while (true);
    pango_layout_iter_free(iter);
    if (block.kind == Kind::Note) boxes.push_back({boxPage, boxPage == page ? boxTop : kMarginTop - 4, y + 4});
    y += style.after;
  }
  const int pages = page + 1;

  // Pass 2: draw page by page, with the footer.
  Style footerStyle{kFamily, 8.5, PANGO_WEIGHT_NORMAL, 0, 0, 0, "#6a7684"};
  for (int p = 0; p < pages; ++p) {
    for (const Box& b : boxes) {
      if (b.page != p) continue;
      cairo_set_source_rgb(cr, 0.93, 0.95, 0.97);
      cairo_rectangle(cr, kMarginX, b.top, textWidth, b.bottom - b.top);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0.17, 0.30, 0.49);
      cairo_rectangle(cr, kMarginX, b.top, 3, b.bottom - b.top);
      cairo_fill(cr);
    }
    for (const Placed& pl : placed) {
      if (pl.page != p) continue;
      SetColor(cr, pl.color);
      cairo_move_to(cr, pl.x, pl.baseline);
      pango_cairo_show_layout_line(cr, pango_layout_get_line_readonly(pl.layout, pl.line));
    }
    const std::string footer = doc.title + "　第 " + std::to_string(p + 1) + " 頁，共 " +
                               std::to_string(pages) + " 頁";
    LayoutPtr foot = MakeLayout(cr, footerStyle, Escape(footer), textWidth);
    pango_layout_set_alignment(foot.get(), PANGO_ALIGN_CENTER);
    SetColor(cr, footerStyle.color);
    cairo_move_to(cr, kMarginX, kPageHeight - kMarginBottom + 26);
    pango_cairo_show_layout(cr, foot.get());
    cairo_show_page(cr);
  }
  for (const Bookmark& b : bookmarks) {
    const std::string target = "page=" + std::to_string(b.page + 1) + " pos=[" + std::to_string(kMarginX) +
                               " " + std::to_string(b.y) + "]";
    cairo_pdf_surface_add_outline(surface, CAIRO_PDF_OUTLINE_ROOT, b.text.c_str(), target.c_str(),
                                  static_cast<cairo_pdf_outline_flags_t>(0));
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::cerr << "zivra_help_pdf: " << cairo_status_to_string(status) << "\n";
    std::remove(temp.c_str());
    return 1;
  }
  if (std::rename(temp.c_str(), argv[2]) != 0) {
    std::cerr << "zivra_help_pdf: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
