// transform_html: one pass of reader events, each written as it is read.
#include "html/transform.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cstdint>

#include "html/chars.h"
#include "html/xml_reader.h"

namespace lumra::html {

namespace {

// Whether `name` occurs in `tag` at or after `from`. A search by first byte
// and compare costs up to the name's length per byte of the tag: bounded for
// short names, and the fastest there; a long name takes memmem, which is
// linear whatever the two texts hold.
bool mentions(std::string_view tag, std::size_t from, std::string_view name) {
  if (from > tag.size()) return false;
  if (name.size() <= 64) return tag.find(name, from) != std::string_view::npos;
  return memmem(tag.data() + from, tag.size() - from, name.data(), name.size()) != nullptr;
}

std::size_t skip_xml_space(std::string_view s, std::size_t i) {
  while (i < s.size() && is_xml_space(s[i])) ++i;
  return i;
}

void append_attribute(std::string& tag, std::string_view name) {
  tag.push_back(' ');
  tag.append(name);
  tag.append("=\"\"");
}

// Written forms of the events that carry no tag.
void write_event(std::string& out, const XmlEvent& event) {
  switch (event.kind) {
    case XmlEventKind::Text:
      out.append(event.text);
      break;
    case XmlEventKind::GeneralRef:
      out.push_back('&');
      out.append(event.text);
      out.push_back(';');
      break;
    case XmlEventKind::CData:
      out.append("<![CDATA[");
      out.append(event.text);
      out.append("]]>");
      break;
    case XmlEventKind::Comment:
      out.append("<!--");
      out.append(event.text);
      out.append("-->");
      break;
    case XmlEventKind::Decl:
    case XmlEventKind::PI:
      out.append("<?");
      out.append(event.text);
      out.append("?>");
      break;
    case XmlEventKind::DocType:
      out.append("<!DOCTYPE ");
      out.append(event.text);
      out.push_back('>');
      break;
    case XmlEventKind::Start:
    case XmlEventKind::Empty:
    case XmlEventKind::End:
    case XmlEventKind::Eof:
      break;
  }
}

// Output size to reserve, so that the buffer is allocated once in the usual
// case: the input plus the all-element attributes for one start tag per 8
// bytes (dense markup), capped at five times the input. Reserved pages that
// are never written cost no memory.
std::size_t output_estimate(std::string_view html, const TransformOptions& options) {
  std::size_t per_tag = 0;
  for (const std::string& name : options.all_attributes) per_tag += name.size() + 4;
  std::size_t root = 0;
  for (const std::string& name : options.root_attributes) root += name.size() + 4;
  const std::size_t extra = std::min(html.size() / 8 * per_tag, 4 * html.size());
  return html.size() + extra + 4 * root + 16;
}

}  // namespace

std::optional<std::string_view> find_xml_attribute(std::string_view tag, std::size_t name_len,
                                                   std::string_view name) {
  // Most tags do not mention the name at all; skip the attribute walk then.
  if (name.empty() || !mentions(tag, name_len, name)) return std::nullopt;
  std::size_t i = name_len;
  while (true) {
    i = skip_xml_space(tag, i);
    if (i >= tag.size()) return std::nullopt;
    const std::size_t key_start = i++;  // even a leading '=' is part of the name
    while (i < tag.size() && tag[i] != '=' && !is_xml_space(tag[i])) ++i;
    const bool is_name = tag.substr(key_start, i - key_start) == name;
    const std::size_t eq = skip_xml_space(tag, i);
    if (eq >= tag.size() || tag[eq] != '=') {
      // A bare name; the next entry starts at the byte after the whitespace.
      // A later `name` would be a repeat, which never counts.
      if (is_name) return std::nullopt;
      i = eq;
      continue;
    }
    i = skip_xml_space(tag, eq + 1);
    if (i >= tag.size()) return std::nullopt;
    const char quote = tag[i];
    if (quote == '"' || quote == '\'') {
      const std::size_t close = tag.find(quote, i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      if (is_name) return tag.substr(i + 1, close - i - 1);
      i = close + 1;
      continue;
    }
    // An unquoted value is skipped up to the next whitespace.
    if (is_name) return std::nullopt;
    while (i < tag.size() && !is_xml_space(tag[i])) ++i;
  }
}

void add_attributes_to_tag(const TransformOptions& options, std::string& buffer,
                           std::size_t tag_start, std::size_t name_len, bool is_root,
                           std::vector<CapturedAttributes>& captured) {
  if (is_root) {
    for (const std::string& name : options.root_attributes) append_attribute(buffer, name);
  }
  for (const std::string& name : options.all_attributes) append_attribute(buffer, name);
  if (!options.tracked_attribute) return;
  const std::string_view tag = std::string_view(buffer).substr(tag_start);
  const auto value = find_xml_attribute(tag, name_len, *options.tracked_attribute);
  if (!value) return;
  // The list of added names is built only for the tags that report it.
  CapturedAttributes record{std::string(*value), {}};
  record.added.reserve((is_root ? options.root_attributes.size() : 0) + options.all_attributes.size());
  if (is_root) {
    record.added.insert(record.added.end(), options.root_attributes.begin(), options.root_attributes.end());
  }
  record.added.insert(record.added.end(), options.all_attributes.begin(), options.all_attributes.end());
  captured.push_back(std::move(record));
}

TransformResult transform_html(std::string_view html, const TransformOptions& options,
                               bool check_end_names) {
  XmlReader reader(html, XmlReaderConfig{check_end_names});
  TransformOutput result;
  result.html.reserve(output_estimate(html, options));
  std::string& out = result.html;
  std::uint32_t depth = 0;  // wraps on unbalanced end tags, by design
  XmlEvent event;

  while (true) {
    if (!reader.next(event)) return TransformError{reader.error()};
    switch (event.kind) {
      case XmlEventKind::Start:
      case XmlEventKind::Empty: {
        const bool empty = event.kind == XmlEventKind::Empty;
        const bool is_void = !empty && is_void_name(event.text.substr(0, event.name_len));
        // The tag is copied straight into the output, where the attributes
        // are appended to it.
        out.push_back('<');
        const std::size_t tag_start = out.size();
        out.append(event.text);
        add_attributes_to_tag(options, out, tag_start, event.name_len, depth == 0,
                              result.captured);
        if (empty || is_void) {
          out.append("/>");
        } else {
          out.push_back('>');
          ++depth;
        }
        break;
      }
      case XmlEventKind::End:
        // End tags of void elements vanish: their start tags were written
        // self-closed.
        if (is_void_name(event.text)) break;
        out.append("</");
        out.append(event.text);
        out.push_back('>');
        --depth;
        break;
      case XmlEventKind::Eof:
        return result;
      default:
        write_event(out, event);
        break;
    }
  }
}

}  // namespace lumra::html
