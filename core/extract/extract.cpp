// The extraction driver: walks a document's pages and fills the extracted
// document, sharing what pages share (fonts, image lists, budgets).
#include "extract/extract.h"

#include <string>
#include <unordered_map>

#include "font/font.h"
#include "page/content.h"
#include "page/form.h"
#include "page/image.h"
#include "page/layout.h"
#include "page/pagetree.h"
#include "page/tables.h"
#include "page/text.h"

namespace vellum {

Result<std::vector<size_t>> resolve_selection(PageSelection selection, size_t count) {
  std::vector<size_t> chosen;
  if (selection.all) {
    chosen.resize(count);
    for (size_t i = 0; i < count; ++i) chosen[i] = i;
    return chosen;
  }
  chosen.reserve(selection.indices.size());
  const int64_t n = static_cast<int64_t>(count);
  for (int64_t index : selection.indices) {
    int64_t at = index < 0 && index >= -n ? index + n : index;
    if (at < 0 || at >= n) {
      return make_error(ErrorKind::PageOutOfRange, "page index " + std::to_string(index) + " out of range: the document has " +
                                                       std::to_string(count) + (count == 1 ? " page" : " pages"));
    }
    chosen.push_back(static_cast<size_t>(at));
  }
  return chosen;
}

Result<ExtractedDoc> extract(const Document& doc, PageSelection selection) {
  const Resolver& resolver = doc.resolver();
  VELLUM_TRY(const Dictionary* catalog_dict, doc.catalog());
  VELLUM_TRY(std::vector<Page> pages, collect_pages(resolver, *catalog_dict));
  VELLUM_TRY(std::vector<size_t> chosen, resolve_selection(selection, pages.size()));
  ExtractedDoc out;
  out.pages.reserve(chosen.size());
  // Parsed fonts (and font maps) are shared by every page that uses the same
  // font objects (or the same /Font dictionary).
  FontCache fonts_cache;
  ImageCheckCache images_checked;
  // Pages that share resources share their image list (resources live in
  // the resolver's cache, so their addresses are stable keys).
  std::unordered_map<const Dictionary*, std::vector<ParsedImage>> images_by_resources;
  uint64_t content_budget = kMaxDocumentContent;
  uint64_t items_budget = kMaxDocumentContentItems;
  uint64_t table_cell_budget = kMaxDocumentTableCells;
  FormCache forms_cache;  // forms drawn on many pages are decoded once
  // Each page's content decodes into the memory the previous page's used.
  Bytes spare;
  for (size_t index : chosen) {
    const Page& page = pages[index];
    VELLUM_TRY(Bytes content, page_content(resolver, *page.dict, &content_budget, std::move(spare)));
    const bool document_binds = items_budget < kMaxContentItems;
    ContentOps parsed =
        parse_content(ByteSpan(content.data(), content.size()), std::min(items_budget, kMaxContentItems));
    spare = std::move(content);
    if (parsed.over_budget) {
      const uint64_t budget = document_binds ? kMaxDocumentContentItems : kMaxContentItems;
      return make_error(ErrorKind::BadStream, std::string("page content exceeds the ") +
                                                  (document_binds ? "document's" : "page's") + " budget of " +
                                                  std::to_string(budget) + " operators and operands");
    }
    items_budget -= parsed.items;
    ExpandedContent expanded =
        expand_forms(std::move(parsed), *page.resources, resolver, forms_cache, &content_budget);
    const ContentOps& ops = expanded.content;
    std::vector<TextRun> runs = extract_runs(expanded, font_maps(resolver, expanded.resources, fonts_cache));
    if (runs.size() > kMaxPageTextRuns)
      return make_error(ErrorKind::BadStream,
                        "page text exceeds the page's budget of " + std::to_string(kMaxPageTextRuns) + " runs");
    PageText text = layout_page(runs, page.media_box);
    text.tables = detect_tables(ops, runs, &table_cell_budget);
    auto images = images_by_resources.find(page.resources);
    if (images == images_by_resources.end())
      images = images_by_resources.emplace(page.resources, extract_images(resolver, *page.resources, &images_checked)).first;
    text.images = images->second;
    text.needs_ocr = text.lines.empty() && !text.images.empty();
    out.pages.push_back(std::move(text));
  }
  out.version = doc.version();
  return out;
}

}  // namespace vellum
