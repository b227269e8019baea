// Every message of the template parser, side by side. Placeholders are fmt's
// `{}`; what each one receives is noted above it.
#pragma once

#include <string_view>

namespace lumra::template_parser::msg {

// --- Grammar shapes (guards of structures the grammar guarantees) -----------

// Rule names: the expected rule, then the pair's.
inline constexpr std::string_view kExpectedRule = "Expected {}, got {}";
// "[first, second]", then the pair's rule.
inline constexpr std::string_view kExpectedOneOfRules = "Expected one of {}, got {}";
// The pair's rule, then the wanted inner rule.
inline constexpr std::string_view kPairShouldContain = "pair {} should contain a pair {}";
inline constexpr std::string_view kTemplateElementWithoutInner = "template_element should always have an inner rule";
// The rule's name.
inline constexpr std::string_view kUnexpectedElementRule = "Unexpected template element rule: {}";
inline constexpr std::string_view kRawWithoutStartTag = "html_raw should contain html_raw_start_tag";
inline constexpr std::string_view kRawWithoutContent = "html_raw should contain html_raw_content";
inline constexpr std::string_view kRawWithoutEndTag = "html_raw should contain html_raw_end_tag";
inline constexpr std::string_view kTagWithoutInner = "html_tag should contain a start, end, or self-closing tag";
// The rule's name.
inline constexpr std::string_view kUnexpectedTagRule = "Unexpected HTML tag rule: {}";
inline constexpr std::string_view kSelfClosingWithoutName = "html_self_closing_tag should contain html_tag_name";
inline constexpr std::string_view kStartTagWithoutName = "html_start_tag should contain html_tag_name";
// The end tag's rule name.
inline constexpr std::string_view kEndTagWithoutName = "{} should contain tag name";
inline constexpr std::string_view kEndTagWithAttributes = "{} must not contain any attributes";
inline constexpr std::string_view kAttributeWithoutName = "html_attribute should contain html_attribute_name";
inline constexpr std::string_view kAttributeValueWithoutInner =
    "html_attribute_value should contain double_quoted_value, single_quoted_value, or unquoted_value";
// The pair's display.
inline constexpr std::string_view kUnexpectedAttributeValue =
    "Expected double_quoted_value, single_quoted_value, or unquoted_value, got {}";
inline constexpr std::string_view kExpressionWithoutInner = "python_expr should contain python_expr";

// --- Entry and element stack ---------------------------------------------------

// The grammar's message.
inline constexpr std::string_view kFailedToParseTemplate = "Failed to parse template: {}";
inline constexpr std::string_view kTemplateEmpty = "Template is empty";
// The end tag's name.
inline constexpr std::string_view kUnexpectedClosingTag = "Unexpected closing tag '</{}>': no matching opening tag";
// The open tag's name, then the end tag's.
inline constexpr std::string_view kMismatchedTags = "Mismatched tags: expected closing tag '</{}>', found '</{}>'";
// The innermost open tag's name, twice.
inline constexpr std::string_view kUnclosedTag = "Unclosed tag <{}>: expected </{}> before end of template";
// The 513th open element; {} is the bound.
inline constexpr std::string_view kNestingTooDeep = "Template nesting is too deep (more than {} levels)";
// Templates nested in attribute values inside one another; {} is the bound.
inline constexpr std::string_view kNestedTemplatesTooDeep =
    "Templates nested in attribute values are too deep (more than {} levels)";

// --- Comments ---------------------------------------------------------------------

// The comment's text.
inline constexpr std::string_view kCommentTooShort = "Invalid comment: too short ({})";

// --- Tags and attributes ----------------------------------------------------------

// The tag name.
inline constexpr std::string_view kReservedTagName =
    "Tag name '{}' is reserved and cannot be used as a regular HTML tag. Use the special syntax instead.";
// E1: the key.
inline constexpr std::string_view kMarkerTakesNoValue = "'{}' takes no value. Write it as a bare control-flow marker.";
// E2: "#c-key" twice.
inline constexpr std::string_view kKeyNeedsValue =
    "'{}' must have an expression value whose result is the node's key, e.g. {}=\"item.id\".";
// E3: "#c-ignore" twice.
inline constexpr std::string_view kIgnoreTakesNoValue =
    "'{}' takes no value. Write the bare marker ('{}') to opt this element and its subtree out of morphing.";
// E4: the key, "#c-key", "#c-ignore".
inline constexpr std::string_view kUnknownMetaAttribute =
    "Unknown '#c-*' attribute '{}'. The '#c-*' channel is reserved for framework metadata about the node, and has "
    "exactly two members: '{}' and '{}'.";
// E5: the key.
inline constexpr std::string_view kConditionNotTemplate =
    "'{}' condition must be an expression; template values are not allowed.";
// E6.
inline constexpr std::string_view kForNotTemplate =
    "'c-for' must contain a for-loop clause expression; template values are not allowed.";

// --- Expressions ------------------------------------------------------------------

// The backend's message.
inline constexpr std::string_view kFailedToParseExpression = "Failed to parse expression: {}";

// --- Variable scopes --------------------------------------------------------------

// The name as written, then the binding ("tag '<c-for>'", "nested template attribute").
inline constexpr std::string_view kDefinedMoreThanOnce =
    "Cannot define variable '{}' more than once in {}. Use a distinct name for each binding.";
inline constexpr std::string_view kVariableTaken =
    "Cannot define variable '{}' in {} - variable name is already taken. Variable shadowing is not allowed, use a "
    "different name.";
// The tag name.
inline constexpr std::string_view kTagBinding = "tag '<{}>'";
inline constexpr std::string_view kNestedTemplateBinding = "nested template attribute";

// --- Bindings of special tags -----------------------------------------------------

// The tag name.
inline constexpr std::string_view kSpreadOnControlFlow =
    "'c-bind' is not supported directly on '<{}>'. Put the spread on an element or component inside it, or write "
    "control flow on the spread host (for example, '<div c-if=\"...\" c-bind=\"...\">').";
inline constexpr std::string_view kForEachNeedsValue = "Tag '<c-for>' attribute 'each' must have a value.";
inline constexpr std::string_view kForNeedsEach = "Tag '<c-for>' must have an 'each' attribute.";
// The backend's message.
inline constexpr std::string_view kFailedToParseEach = "Failed to parse 'each' attribute: {}";
// The loop variable as written.
inline constexpr std::string_view kLoopVariableTwice =
    "Cannot define variable '{}' more than once in a '<c-for>' clause. Use a distinct name for each loop target.";

// --- <c-fill> data bindings -------------------------------------------------------

// Holds braces: used as it stands, never as a format string.
inline constexpr std::string_view kInvalidFillData =
    "Invalid <c-fill> data binding. Use a variable name or one-level destructuring such as '{ root_attrs, "
    "table_attrs as inner_table_attrs, **rest }'.";
// The field's source.
inline constexpr std::string_view kFillFieldTwice =
    "Cannot read slot-data field '{}' more than once in a <c-fill> data binding.";
// The variable as written.
inline constexpr std::string_view kFillVariableTwice =
    "Cannot define variable '{}' more than once in a <c-fill> data binding.";
inline constexpr std::string_view kFillRestNotLast =
    "The '**rest' binding must be the last item in a <c-fill> data binding.";
// The name.
inline constexpr std::string_view kFillNotIdentifier =
    "<c-fill> data bindings require valid Python identifiers, got {}.";

// --- Node validation --------------------------------------------------------------

// The enclosing frame's tag name.
inline constexpr std::string_view kFillInsideNonComponent =
    "Tag '<c-fill>' cannot be inside '<{}>'. It must be inside a component tag (e.g., '<c-component>' or "
    "'<c-MyComp>').";
inline constexpr std::string_view kFillOutsideComponent =
    "Tag '<c-fill>' must be inside a component tag (e.g., '<c-component>' or '<c-MyComp>').";
// The key.
inline constexpr std::string_view kDuplicateAttribute =
    "Duplicate attribute '{}' found. Each attribute name can only appear once (except 'c-bind').";
// The earlier key, this key, the logical name.
inline constexpr std::string_view kSameLogicalAttribute =
    "Attributes '{}' and '{}' provide the same logical attribute '{}'. Choose one explicit spelling; use 'c-bind' "
    "for values supplied dynamically.";
// The earlier key, this key, the group's names joined with ", ".
inline constexpr std::string_view kTwoControlFlowAttributes =
    "Cannot have both '{}' and '{}' attributes on the same tag. Only one control flow attribute from the group [{}] "
    "is allowed.";
// Group-0 key, group-1 key, group-0 key, group-1 key.
inline constexpr std::string_view kControlFlowAttributeOrder =
    "Cannot have '{}' together with '{}'. '{}' has higher priority and will wrap the content before '{}'.";
// The node's name, then the previous sibling's.
inline constexpr std::string_view kFillsNotGrouped =
    "Tag '<{}>' cannot follow '<{}>' here. '<c-fill>' (and control flow) tags must be grouped together, not mixed "
    "with other tags.";
// The control-flow tag's name.
inline constexpr std::string_view kControlFlowWithNonFill =
    "Control flow tag '<{}>' is a sibling of '<c-fill>' but contains non-fill content. When mixed with '<c-fill>' "
    "tags, control flow tags must contain only '<c-fill>' or other control flow tags.";

// The node's tag name (broken invariants of the walk, never reached from a template).
inline constexpr std::string_view kBodyChecksMissing =
    "Internal error: '<{}>' has a body but reached validation without its body's checks";
inline constexpr std::string_view kFiledWithoutValidation =
    "Internal error: '<{}>' was filed without passing validation";

// --- Tag rules ----------------------------------------------------------------------

// Tag name; all allowed names joined with "', '"; invalid names joined with ", ".
inline constexpr std::string_view kInvalidAttributes =
    "Tag '<{}>' can only have the following attributes: '{}'. Found invalid attributes: {}.";
// Tag name; the group's names joined with ", "; the found names joined with ", ".
inline constexpr std::string_view kOnlyOneOfAttributes =
    "Tag '<{}>' must have only one of the attributes: {}, but found multiple: {}.";
// Tag name, the attribute.
inline constexpr std::string_view kMissingAttribute = "Tag '<{}>' must have a '{}' attribute.";
// Tag name; the group's names joined with "', '".
inline constexpr std::string_view kMissingOneOfAttributes = "Tag '<{}>' must have one of the following attributes: '{}'.";

// --- Slots and fills ----------------------------------------------------------------

// Tag name.
inline constexpr std::string_view kNoDefaultSlot =
    "Tag '<{}>' does not allow a 'default' slot, but body content was provided.";
// Tag name, number required, number of fills.
inline constexpr std::string_view kTooFewFills =
    "Tag '<{}>' requires {} slot(s), but only {} <c-fill> tag(s) were provided.";
// Tag name, slot name.
inline constexpr std::string_view kMissingSlot = "Tag '<{}>' must have a slot named '{}'.";
inline constexpr std::string_view kSlotNotAllowed = "Tag '<{}>' does not allow a slot named '{}'.";
// Slot name, tag name, the field, then one of the two hints.
inline constexpr std::string_view kUnknownSlotDataField =
    "Slot '{}' on tag '<{}>' does not expose a slot-data field named '{}'. {}";
// The declared names joined with ", ".
inline constexpr std::string_view kAvailableFields = "Available fields: {}.";
inline constexpr std::string_view kNoDeclaredFields = "This slot's declared data shape has no fields.";
// The fill name.
inline constexpr std::string_view kDuplicateFill =
    "Duplicate <c-fill> with name='{}' found. Each fill name can only appear once.";
// Tag name, allowed slots, distinct static fill names, dynamic fills outside control flow.
inline constexpr std::string_view kTooManyDynamicFills =
    "Tag '<{}>' allows {} slot(s), but {} are statically filled and there are {} additional dynamic fill(s) outside "
    "control flow. The dynamic fill(s) will either duplicate an existing slot or use a non-allowed name.";
// The tag's name.
inline constexpr std::string_view kTagNextToFills =
    "Tag '<{}>' cannot appear next to '<c-fill>' tags. When a component body contains '<c-fill>' tags, all other "
    "content must be inside the fills.";
inline constexpr std::string_view kExpressionNextToFills =
    "Expression cannot appear next to '<c-fill>' tags. When a component body contains '<c-fill>' tags, all other "
    "content must be inside the fills.";
inline constexpr std::string_view kTextNextToFills =
    "Text cannot appear next to '<c-fill>' tags. When a component body contains '<c-fill>' tags, all other content "
    "must be inside the fills (whitespace-only text is allowed for formatting).";

// --- Control-flow chains ------------------------------------------------------------

// The kind, then the allowed predecessors ("<c-if>, <c-elif>").
inline constexpr std::string_view kChainOtherContent =
    "Tag '<{}>' must follow one of: {}. Found other content in between.";
// ... then the previous node's kind.
inline constexpr std::string_view kChainWrongPredecessor = "Tag '<{}>' must follow one of: {}. Found '<{}>' instead.";
inline constexpr std::string_view kChainNoPredecessor = "Tag '<{}>' must follow one of: {}. No previous tag found.";

// --- Attribute placement and values -------------------------------------------------

// "$c-props", "c-$c-props", the key as written.
inline constexpr std::string_view kClientDirectiveCase =
    "Lumra client directive names are lowercase. Write '{}' or '{}' instead of '{}'.";
// "$c-props" twice.
inline constexpr std::string_view kClientPropsNeedValue =
    "'{}' must have a non-empty client expression value, e.g. {}=\"{{ theme: currentTheme }}\".";
// Key, tag name, line, column.
inline constexpr std::string_view kClientPropsPlacement =
    "'{}' is not supported on '<{}>' (line {}, column {}). It is a client props directive and belongs on a Lumra "
    "component tag, including '<c-component>'.";
inline constexpr std::string_view kKeyOnReservedTag =
    "'{}' is not supported on '<{}>' (line {}, column {}). It belongs on a plain HTML element (the morph pairing "
    "key) or on a component tag (the key of the child instance).";
inline constexpr std::string_view kIgnoreOnReservedTag =
    "'{}' is not supported on '<{}>' (line {}, column {}). Put it on the HTML element whose subtree should be left "
    "alone, or on a wrapper element.";
// Key, tag name, line, column, tag name.
inline constexpr std::string_view kIgnoreOnComponent =
    "'{}' is not supported on '<{}>' (line {}, column {}): it would opt out a component instance's root element. Put "
    "it on an element inside the child's own template below the template's root element, or on a wrapper element "
    "around '<{}>'.";
// Tag name.
inline constexpr std::string_view kStaticIsEmpty = "Tag '<{}>' static 'is' must have a non-empty value.";
inline constexpr std::string_view kStaticNameEmpty = "Tag '<{}>' static 'name' must have a non-empty value.";
inline constexpr std::string_view kBindNotTemplate =
    "'c-bind' must be an expression that resolves to a mapping; template values are not allowed.";
// Key, tag name.
inline constexpr std::string_view kAttributeNotTemplate =
    "'{}' on '<{}>' must be an expression; template values are not allowed.";
// Key.
inline constexpr std::string_view kAttributeNeedsValue = "'{}' attribute must have a non-empty value.";
// Key, the key without "c-", key.
inline constexpr std::string_view kDynamicAttributeNeedsValue =
    "Dynamic attribute '{}' must have a non-empty value. Write '{}' for a static boolean attribute, or give it an "
    "expression: {}=\"...\".";

}  // namespace lumra::template_parser::msg
