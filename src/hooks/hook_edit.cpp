#include "hooks/hook_edit.h"

#include <algorithm>

#include "settings/settings_json.h"

namespace tarnel {
namespace {

using Member = JsonText::Member;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

/// The file's own style: its first indentation step (two spaces when it has
/// none, or a mixed one) and its line ending.
TextStyle styleOf(std::string_view text) {
  TextStyle style;
  std::size_t newline = text.find('\n');
  if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') style.newline = "\r\n";
  for (; newline != std::string_view::npos; newline = text.find('\n', newline + 1)) {
    std::size_t i = newline + 1;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == newline + 1 || i == text.size() || text[i] == '\n' || text[i] == '\r') continue;
    std::string_view unit = text.substr(newline + 1, i - newline - 1);
    if (unit.find_first_not_of(unit[0]) == std::string_view::npos) style.unit = unit;
    break;
  }
  return style;
}

/// The blanks that begin the line holding `at`.
std::string lineIndent(std::string_view text, std::size_t at) {
  std::size_t start = text.rfind('\n', at);
  start = start == std::string_view::npos ? 0 : start + 1;
  std::size_t end = start;
  while (end < text.size() && isBlank(text[end])) ++end;
  return std::string(text.substr(start, end - start));
}

/// A member or an element to add: a key for a member, and the value.
struct Item {
  std::optional<std::string> key;
  json value;
};

/// A settings text being edited.
class Editor {
public:
  explicit Editor(const JsonText& doc) : doc_(doc), text_(doc.text()), style_(styleOf(text_)) {}

  const JsonText& doc() const { return doc_; }

  /// Adds `items` at the end of the container that opens at `open` and holds
  /// `existing`; a container spread over lines gets one item per line. Into a
  /// `[]` or `{}` that uninstall could take for one that install made (`mayPrune`),
  /// the items go on its line with a space inside each bracket, which tells them apart.
  void append(std::size_t open, const std::vector<Span>& existing, const std::vector<Item>& items, bool spread,
              bool mayPrune = true) {
    TextStyle style = style_;
    style.multiLine = spread;
    if (mayPrune && existing.empty() && (text_[open + 1] == ']' || text_[open + 1] == '}')) {
      style.multiLine = false;
      std::string added = " ";
      for (const Item& item : items)
        added += (added.size() > 1 ? ", " : "") + (item.key ? writeJson(*item.key, style) + ": " : "") + writeJson(item.value, style);
      edits_.push_back({{open + 1, open + 1}, added + " "});
      return;
    }
    std::string indent = existing.empty() ? lineIndent(text_, open) + style.unit : lineIndent(text_, existing.front().begin);
    std::size_t at = existing.empty() ? open + 1 : existing.back().end;
    // A comment that ends the line of the last item, or of the opening
    // bracket, stays on that line: the items go on the lines after it, the
    // comma before them stays with the item.
    auto lineEnd = style.multiLine ? commentedLineEnd(at) : std::nullopt;
    if (lineEnd && !existing.empty()) edits_.push_back({{at, at}, ","});
    std::string added;
    for (const Item& item : items) {
      if (!added.empty() || (!existing.empty() && !lineEnd)) added += ',';
      if (style.multiLine) added += style.newline + indent;
      else if (!existing.empty() || !added.empty()) added += ' ';
      if (item.key) added += writeJson(*item.key, style) + ": ";
      added += writeJson(item.value, style, indent);
    }
    // Into an empty container the items go first, then a line break before
    // whatever the container held (blanks, comments) and its closing bracket.
    if (existing.empty() && style.multiLine && !lineEnd) added += style.newline + lineIndent(text_, open);
    at = lineEnd.value_or(at);
    edits_.push_back({{at, at}, std::move(added)});
  }

  /// Takes out the items of `items` marked in `gone`, with their separators,
  /// keeping the comments between them and the others.
  void remove(const std::vector<Span>& items, const std::vector<bool>& gone, std::size_t open) {
    auto lastKept = std::find(gone.rbegin(), gone.rend(), false);
    if (lastKept == gone.rend()) return removeAll(items, open);
    std::size_t kept = static_cast<std::size_t>(gone.rend() - lastKept) - 1;
    for (std::size_t i = 0; i < kept; ++i)
      if (gone[i]) removeBefore(items[i], items[i + 1]);
    if (kept + 1 < items.size()) removeTrailing(items[kept], items[kept + 1], items.back());
  }

  /// Whether install made the container that opens at `open`, holds `items`
  /// and closes at `close`: taking the items out would leave nothing in it.
  bool madeByUs(const std::vector<Span>& items, std::size_t open, std::size_t close) const {
    if (items.empty() || padded(items, open)) return false;
    Span all = allItems(items, open);
    return all.begin == open + 1 && all.end == close;
  }

  /// Whether the container that opens at `open` spreads its items over lines;
  /// an empty one does as the container around it does.
  bool spread(std::size_t open, const std::vector<Span>& items, bool outerSpread) const {
    if (items.empty()) return outerSpread;
    return text_.substr(open, items.front().begin - open).find('\n') != std::string_view::npos;
  }

  /// Writes `value` over the bytes of `span`.
  void replace(Span span, const json& value) { edits_.push_back({span, writeJson(value, style_)}); }

  std::optional<EditedText> result() {
    if (edits_.empty()) return std::nullopt;
    return EditedText(text_, std::move(edits_));
  }

private:
  /// Where the text of `comment` ends: before the line break that ends a `//` comment.
  std::size_t textEnd(Span comment) const {
    std::string_view body = text_.substr(comment.begin, comment.end - comment.begin);
    if (!body.starts_with("//")) return comment.end;
    return comment.end - (body.ends_with("\r\n") ? 2 : body.ends_with('\n') || body.ends_with('\r') ? 1 : 0);
  }

  /// Where the line that holds `at` ends, when only blanks and at least one
  /// comment stand between `at` and that end.
  std::optional<std::size_t> commentedLineEnd(std::size_t at) const {
    bool commented = false;
    for (Span comment : doc_.comments(at, text_.size())) {
      while (at < comment.begin && isBlank(text_[at])) ++at;
      if (at != comment.begin) break;
      at = textEnd(comment);
      if (at != comment.end) return at;  // a `//` comment, which ends the line
      if (text_.substr(comment.begin, at - comment.begin).find_first_of("\r\n") != std::string_view::npos) return {};
      commented = true;
    }
    while (at < text_.size() && isBlank(text_[at])) ++at;
    if (commented && at < text_.size() && (text_[at] == '\n' || text_[at] == '\r')) return at;
    return std::nullopt;
  }

  /// The items from `first` to `last` that end their container: they go with
  /// the separator before them; the comments before them stay, each on its line.
  void removeTrailing(Span previous, Span first, Span last) {
    auto comments = doc_.comments(previous.end, first.begin);
    if (comments.empty()) return cut({previous.end, last.end});
    std::size_t comma = previous.end;
    while (doc_.at(comma) != ',') ++comma;
    cut({comma, comma + 1});
    cut({std::max(textEnd(comments.back()), comma + 1), last.end});
  }

  /// An item that another follows: it goes with the separator and the blanks after it.
  void removeBefore(Span item, Span next) {
    std::size_t end = doc_.skipSpace(item.end) + 1;  // past the comma
    while (end < next.begin && (isBlank(text_[end]) || text_[end] == '\n' || text_[end] == '\r')) ++end;
    cut({item.begin, end});
  }

  /// Items that `append` put into a `[]` or `{}`, a space on each side.
  bool padded(const std::vector<Span>& items, std::size_t open) const {
    std::size_t end = items.back().end;
    return items.front().begin == open + 2 && text_[open + 1] == ' ' && end + 1 < text_.size() && text_[end] == ' ' &&
           (text_[end + 1] == ']' || text_[end + 1] == '}');
  }

  /// The bytes that all of `items` take: the undoing of `append` to an empty
  /// container, which put a line break and the container's own indentation
  /// after them, or only a line break before them after a comment.
  Span allItems(const std::vector<Span>& items, std::size_t open) const {
    if (padded(items, open)) return {open + 1, items.back().end + 1};
    std::size_t begin = open + 1;
    auto comments = doc_.comments(begin, items.front().begin);
    if (!comments.empty()) begin = textEnd(comments.back());
    std::size_t end = items.back().end;
    bool ownLines = comments.empty() && text_.substr(begin, items.front().begin - begin).find('\n') != std::string_view::npos;
    for (std::string_view newline : {std::string_view(style_.newline), std::string_view("\n")}) {
      if (!ownLines) break;
      if (!text_.substr(end).starts_with(newline)) continue;
      end += newline.size();
      if (std::string closing = lineIndent(text_, open); text_.substr(end).starts_with(closing)) end += closing.size();
      break;
    }
    return {begin, end};
  }

  /// Empties a container; comments between its items stay, each item going with the comma after it.
  void removeAll(const std::vector<Span>& items, std::size_t open) {
    if (doc_.comments(items.front().begin, items.back().end).empty()) return cut(allItems(items, open));
    for (std::size_t i = 0; i + 1 < items.size(); ++i) {
      std::size_t comma = doc_.skipSpace(items[i].end);
      cut(items[i]);
      cut({comma, comma + 1});
    }
    cut(items.back());
  }

  void cut(Span span) { edits_.push_back({span, ""}); }

  const JsonText& doc_;
  std::string_view text_;
  TextStyle style_;
  std::vector<EditedText::Replacement> edits_;
};

const Member* lastNamed(const std::vector<Member>& members, std::string_view name) {
  auto found = std::find_if(members.rbegin(), members.rend(), [&](const Member& m) { return m.name == name; });
  return found == members.rend() ? nullptr : &*found;
}

bool isUnique(const std::vector<Member>& members, std::string_view name) {
  return std::count_if(members.begin(), members.end(), [&](const Member& m) { return m.name == name; }) == 1;
}

std::vector<Span> spans(const std::vector<Member>& members) {
  std::vector<Span> found;
  for (const Member& m : members) found.push_back({m.key.begin, m.value.end});
  return found;
}

json ourElement(const Agent& agent, const HookRules& rules) {
  json handler = json::object();
  if (agent.typed) handler["type"] = "command";
  handler[std::string(agent.commandKey)] = ourCommand(agent, rules);
  if (agent.timeoutSec) handler["timeoutSec"] = agent.timeoutSec;
  if (!agent.marker.empty()) handler[std::string(agent.marker)] = "tarnel";
  if (agent.layout == Layout::flatEntries) return handler;
  return {{"hooks", json::array({std::move(handler)})}};
}

/// The program that a handler's command runs with "busy", if it is one word.
std::optional<std::string> programOf(const Agent& agent, const json& handler) {
  const json* command = member(handler, agent.commandKey);
  if (!command || !command->is_string()) return std::nullopt;
  return busyProgram(command->get_ref<const std::string&>());
}

/// Whether an element of an event list stands exactly as install writes
/// ours: a group of its own, holding nothing but one handler, which holds
/// nothing but the members of ours (a marker aside, which counts by itself).
bool hasOurShape(const Agent& agent, const json& element) {
  const json* handler = &element;
  if (agent.layout == Layout::hookGroups) {
    const json* hooks = member(element, "hooks");
    if (element.size() != 1 || !hooks || !hooks->is_array() || hooks->size() != 1) return false;
    handler = &(*hooks)[0];
  }
  if (!handler->is_object()) return false;
  for (const auto& [key, value] : handler->items()) {
    bool ourMember = key == agent.commandKey || (key == "type" && agent.typed && value == "command") ||
                     (key == "timeoutSec" && agent.timeoutSec && value == agent.timeoutSec);
    if (!ourMember) return false;
  }
  return true;
}

/// Whether `handler` is ours. For uninstall (`element`, the event list's
/// element that holds it) also one whose program no longer exists at all,
/// when the element stands exactly as ours: an earlier version wrote the name
/// it was started by, perhaps a link deleted since. A hook of the user's with
/// a matcher, a timeout or a neighbour stays.
bool isOurs(const Agent& agent, const json& handler, const HookRules& rules, const json* element = nullptr) {
  const json* marker = agent.marker.empty() ? nullptr : member(handler, agent.marker);
  if (marker && *marker == "tarnel") return true;
  auto program = programOf(agent, handler);
  if (!program) return false;
  return isOurProgram(*program, rules) ||
         (element && rules.isDeadName && hasOurShape(agent, *element) && rules.isDeadName(*program));
}

/// The handlers of one element of an event list, with their spans: the
/// element itself for flat entries, the members of its "hooks" list for a
/// group. Nothing when a group's "hooks" is not a list of objects.
struct Handlers {
  std::vector<Span> spans;
  std::vector<json> values;
  std::size_t open = 0;  ///< where the group's "hooks" list opens
};

std::optional<Handlers> handlersOf(const Agent& agent, const JsonText& doc, Span element, json value) {
  if (agent.layout == Layout::flatEntries) return Handlers{{element}, std::vector<json>(1, std::move(value))};
  const json* list = member(value, "hooks");
  if (!list || !isListOfObjects(*list)) return std::nullopt;
  auto members = doc.members(element.begin);
  const Member* hooks = lastNamed(members, "hooks");
  return Handlers{doc.elements(hooks->value.begin), std::vector<json>(list->begin(), list->end()), hooks->value.begin};
}

/// An event list's elements, when it is a list of objects.
struct EventList {
  std::vector<Span> spans;
  std::vector<json> values;
};

std::optional<EventList> eventList(const JsonText& doc, Span value) {
  if (doc.at(value.begin) != '[') return std::nullopt;
  EventList list{doc.elements(value.begin), {}};
  for (Span element : list.spans) {
    list.values.push_back(doc.value(element));
    if (!list.values.back().is_object()) return std::nullopt;
  }
  return list;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

/// The validated text and its top-level members; nothing for no settings yet.
std::optional<JsonText> readText(const Agent& agent, const std::optional<std::string>& original) {
  if (!original || original->empty()) return std::nullopt;
  try {
    JsonText doc(*original, agent.comments ? Comments::allowed : Comments::refused);
    if (doc.at(doc.root()) != '{') throw Refused(" is not a JSON object");
    return doc;
  } catch (const JsonSyntaxError& syntax) {
    throw Refused(" is not valid JSON (" + std::string(syntax.what()) + ")");
  }
}

/// The object that maps event names to event lists: the top level itself, or
/// its "hooks" member; nothing for a file without "hooks". Throws Refused
/// when "hooks" is no object.
std::optional<std::size_t> eventMap(const Agent& agent, const JsonText& doc, const std::vector<Member>& rootMembers) {
  if (agent.eventsAt == EventsAt::topLevel) return doc.root();
  const Member* hooks = lastNamed(rootMembers, "hooks");
  if (!hooks) return std::nullopt;
  if (doc.at(hooks->value.begin) != '{') throw Refused(": \"hooks\" is not an object");
  return hooks->value.begin;
}

/// An event's list as messages name it.
std::string eventPath(const Agent& agent, std::string_view event) {
  return (agent.eventsAt == EventsAt::topLevel ? "" : "\"hooks\" → ") + quoted(event);
}

Refused notAList(const Agent& agent, std::string_view event) {
  return Refused(": " + eventPath(agent, event) + " is not a list of " +
                 (agent.layout == Layout::hookGroups ? "hook groups" : "hook entries"));
}

/// Our element in a list of its own for each of `events`.
json ourLists(const Agent& agent, std::span<const std::string_view> events, const HookRules& rules) {
  json lists = json::object();
  for (auto event : events) lists[std::string(event)] = json::array({ourElement(agent, rules)});
  return lists;
}

/// What mending the hooks of ours in an event list did.
struct Mended {
  bool found = false;    ///< the list holds a hook of ours
  bool updated = false;  ///< one ran a program that is gone: it runs ours now
  bool guarded = false;  ///< one could fail: it ends in `neverFails` now
};

/// Finds our hooks in an event list; repoints those whose program is gone and
/// makes the others never fail.
Mended mend(const Agent& agent, Editor& editor, const EventList& list, const HookRules& rules) {
  Mended mended;
  for (std::size_t i = 0; i < list.spans.size(); ++i) {
    auto handlers = handlersOf(agent, editor.doc(), list.spans[i], list.values[i]);
    if (!handlers) continue;
    for (std::size_t h = 0; h < handlers->spans.size(); ++h) {
      const json& handler = handlers->values[h];
      if (!isOurs(agent, handler, rules)) continue;
      mended.found = true;
      auto program = programOf(agent, handler);
      if (!program) continue;  // not "<program> busy": not ours to rewrite
      const std::string& now = member(handler, agent.commandKey)->get_ref<const std::string&>();
      bool gone = rules.isGone(*program);
      if (gone ? now == ourCommand(agent, rules) : now.ends_with(neverFails)) continue;
      auto members = editor.doc().members(handlers->spans[h].begin);
      editor.replace(lastNamed(members, agent.commandKey)->value, gone ? ourCommand(agent, rules) : now + std::string(neverFails));
      (gone ? mended.updated : mended.guarded) = true;
    }
  }
  return mended;
}

/// The handlers of ours in the lists of the events of `agent`, event by event.
/// Throws Refused for an event whose value is no list of the agent's elements.
std::vector<FoundHook> findOurs(const Agent& agent, const JsonText& doc, const std::vector<Member>& events,
                                const HookRules& rules) {
  std::vector<FoundHook> found;
  for (std::string_view event : agent.events) {
    const Member* entry = lastNamed(events, event);
    if (!entry) continue;
    auto list = eventList(doc, entry->value);
    if (!list) throw notAList(agent, event);
    for (std::size_t i = 0; i < list->spans.size(); ++i) {
      auto handlers = handlersOf(agent, doc, list->spans[i], list->values[i]);
      if (!handlers) continue;
      for (std::size_t h = 0; h < handlers->values.size(); ++h) {
        const json& handler = handlers->values[h];
        if (!isOurs(agent, handler, rules)) continue;
        const json* command = member(handler, agent.commandKey);
        found.push_back({event, command && command->is_string() ? command->get<std::string>() : "",
                         programOf(agent, handler), i, h});
      }
    }
  }
  return found;
}

}  // namespace

// For an agent that puts its environment into the strings of its settings,
// each "$" (always inside single quotes: shellWord quotes every word that holds
// one) is followed by an empty quoted piece, `$''`: no variable name follows it
// any more, and the shell still reads one "$".
std::string ourCommand(const Agent& agent, const HookRules& rules) {
  std::string command;
  for (char c : rules.command) command += c == '$' && agent.expandsVariables ? std::string("$''") : std::string(1, c);
  return command + std::string(neverFails);
}

EditedText::EditedText(std::string_view original, std::vector<Replacement> replacements)
    : original_(original), replacements_(std::move(replacements)) {
  std::stable_sort(replacements_.begin(), replacements_.end(),
                   [](auto& a, auto& b) { return a.span.begin < b.span.begin; });
}

std::vector<std::string_view> EditedText::pieces() const {
  std::vector<std::string_view> pieces;
  std::size_t at = 0;
  for (const auto& r : replacements_) {
    pieces.push_back(original_.substr(at, r.span.begin - at));
    pieces.push_back(r.text);
    at = r.span.end;
  }
  pieces.push_back(original_.substr(at));
  return pieces;
}

std::string EditedText::str() const {
  std::string text;
  for (auto piece : pieces()) text += piece;
  return text;
}

std::vector<FoundHook> ourHooks(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules) {
  auto doc = readText(agent, original);
  auto map = doc ? eventMap(agent, *doc, doc->members(doc->root())) : std::nullopt;
  return map ? findOurs(agent, *doc, doc->members(*map), rules) : std::vector<FoundHook>{};
}

InstallEdit installHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules,
                        Events addTo) {
  InstallEdit edit;
  auto ourEvents = addTo.value_or(agent.events);
  auto doc = readText(agent, original);
  if (!doc && ourEvents.empty()) return edit;
  if (!doc) {
    json hooks = ourLists(agent, ourEvents, rules);
    json root = agent.eventsAt == EventsAt::topLevel ? std::move(hooks) : json{{"hooks", std::move(hooks)}};
    if (agent.wantsVersion) root["version"] = 1;
    edit.added.assign(ourEvents.begin(), ourEvents.end());
    edit.text = EditedText("", {{{0, 0}, writeJson(root, TextStyle())}});
    return edit;
  }
  Editor editor(*doc);
  auto rootMembers = doc->members(doc->root());
  auto map = eventMap(agent, *doc, rootMembers);
  std::vector<Item> rootItems;
  bool rootSpread = editor.spread(doc->root(), spans(rootMembers), true);
  if (!map && !ourEvents.empty()) {
    rootItems.push_back({"hooks", ourLists(agent, ourEvents, rules)});
    edit.added.assign(ourEvents.begin(), ourEvents.end());
  } else if (map) {
    auto events = doc->members(*map);
    bool hooksSpread = *map == doc->root() ? rootSpread : editor.spread(*map, spans(events), rootSpread);
    std::vector<Item> newEvents;
    for (std::string_view event : agent.events) {
      bool adding = std::find(ourEvents.begin(), ourEvents.end(), event) != ourEvents.end();
      const Member* found = lastNamed(events, event);
      if (!found) {
        if (!adding) continue;
        newEvents.push_back({std::string(event), json::array({ourElement(agent, rules)})});
        edit.added.push_back(event);
        continue;
      }
      auto list = eventList(*doc, found->value);
      if (!list) throw notAList(agent, event);
      Mended mended = mend(agent, editor, *list, rules);
      if (mended.updated) edit.updated.push_back(event);
      if (mended.guarded) edit.guarded.push_back(event);
      if (mended.found || !adding) continue;
      editor.append(found->value.begin, list->spans, {{std::nullopt, ourElement(agent, rules)}},
                    editor.spread(found->value.begin, list->spans, hooksSpread));
      edit.added.push_back(event);
    }
    if (!newEvents.empty()) editor.append(*map, spans(events), newEvents, hooksSpread);
  }
  bool changes = !edit.added.empty() || !edit.updated.empty() || !edit.guarded.empty();
  if (changes && agent.wantsVersion && !lastNamed(rootMembers, "version")) rootItems.push_back({"version", 1});
  if (!rootItems.empty()) editor.append(doc->root(), spans(rootMembers), rootItems, rootSpread, false);
  edit.text = editor.result();
  return edit;
}

UninstallEdit uninstallHook(const Agent& agent, const std::optional<std::string>& original, const HookRules& rules) {
  UninstallEdit edit;
  auto doc = readText(agent, original);
  if (!doc) return edit;
  Editor editor(*doc);
  auto rootMembers = doc->members(doc->root());
  const Member* hooks = lastNamed(rootMembers, "hooks");
  std::optional<std::size_t> map;
  if (agent.eventsAt == EventsAt::topLevel) map = doc->root();
  else if (hooks && doc->at(hooks->value.begin) == '{') map = hooks->value.begin;
  if (!map) return edit;

  // Only what our removal empties goes, and only a container that install
  // made: a user's own empty list, group or "hooks", or one with a comment, stays.
  auto events = doc->members(*map);
  std::vector<bool> emptied(events.size(), false);
  auto all = [](const std::vector<bool>& marks) { return std::find(marks.begin(), marks.end(), false) == marks.end(); };
  auto any = [](const std::vector<bool>& marks) { return std::find(marks.begin(), marks.end(), true) != marks.end(); };
  // A list that keeps an item after one that goes moves that item up.
  auto movesOthers = [](const std::vector<bool>& gone) {
    return std::find(std::find(gone.begin(), gone.end(), true), gone.end(), false) != gone.end();
  };
  for (std::string_view event : agent.events) {
    const Member* found = lastNamed(events, event);
    auto list = found ? eventList(*doc, found->value) : std::nullopt;
    if (!list) continue;
    std::vector<bool> gone(list->spans.size(), false);
    for (std::size_t i = 0; i < list->spans.size(); ++i) {
      auto handlers = handlersOf(agent, *doc, list->spans[i], list->values[i]);
      if (!handlers) continue;
      std::vector<bool> ours;
      for (const json& handler : handlers->values) ours.push_back(isOurs(agent, handler, rules, &list->values[i]));
      edit.removed += static_cast<std::size_t>(std::count(ours.begin(), ours.end(), true));
      gone[i] = any(ours) && all(ours) &&
                (agent.layout == Layout::flatEntries || doc->comments(list->spans[i].begin, list->spans[i].end).empty());
      if (!gone[i] && any(ours)) {
        editor.remove(handlers->spans, ours, handlers->open);
        edit.movedOthers = edit.movedOthers || movesOthers(ours);
      }
    }
    edit.movedOthers = edit.movedOthers || movesOthers(gone);
    // A repeated key stays, emptied: taking it out would bring back an earlier value.
    if (any(gone) && all(gone) && isUnique(events, event) &&
        editor.madeByUs(list->spans, found->value.begin, found->value.end - 1))
      emptied[static_cast<std::size_t>(found - events.data())] = true;
    else if (any(gone))
      editor.remove(list->spans, gone, found->value.begin);
  }
  // Pruning alone is no reason to write: without a handler removed, nothing changed for the agent.
  if (edit.removed == 0) return edit;

  // Cursor requires "hooks" beside "version": its file keeps `"hooks": {}`.
  if (agent.eventsAt == EventsAt::hooksMember && all(emptied) && isUnique(rootMembers, "hooks") &&
      !agent.wantsVersion && editor.madeByUs(spans(events), hooks->value.begin, hooks->value.end - 1)) {
    std::vector<bool> gone;
    for (const Member& m : rootMembers) gone.push_back(&m == hooks);
    editor.remove(spans(rootMembers), gone, doc->root());
  } else if (any(emptied)) {
    editor.remove(spans(events), emptied, *map);
  }
  edit.text = editor.result();
  return edit;
}

std::vector<EventHeld> eventsHeld(const Agent& agent, const std::optional<std::string>& text, const HookRules& rules) {
  std::vector<EventHeld> held(agent.events.size());
  auto doc = readText(agent, text);
  auto map = doc ? eventMap(agent, *doc, doc->members(doc->root())) : std::nullopt;
  if (!map) return held;
  auto events = doc->members(*map);
  auto ours = findOurs(agent, *doc, events, rules);
  for (std::size_t e = 0; e < held.size(); ++e) {
    held[e].listed = lastNamed(events, agent.events[e]) != nullptr;
    for (const FoundHook& hook : ours) {
      if (hook.event != agent.events[e]) continue;
      held[e].ours = true;
      held[e].live = held[e].live || !hook.program || !rules.isGone(*hook.program);
    }
  }
  return held;
}

bool holdsNothingElse(const Agent& agent, const std::optional<std::string>& text) {
  auto doc = readText(agent, text);
  if (!doc) return true;
  for (const Member& m : doc->members(doc->root())) {
    bool emptyHooks = m.name == "hooks" && doc->at(m.value.begin) == '{' && doc->members(m.value.begin).empty();
    if (!emptyHooks && !(m.name == "version" && agent.wantsVersion)) return false;
  }
  return true;
}

}  // namespace tarnel
