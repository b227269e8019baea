#include "template/parser/parser.h"

namespace lumra::template_parser {

ParseResult parse_template_text(std::string_view, ParserContext&) {
  // The walk from grammar matches to the syntax tree is not part of this build yet.
  return TemplateParseError::unavailable("the template parser is not available in this build");
}

}  // namespace lumra::template_parser
