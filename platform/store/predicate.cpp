// The predicate parser: a tokenizer, then recursive descent over this grammar (keywords and
// operator options are case-insensitive; "%@", "%d" and friends take the next argument as a
// constant, "%K" takes it as a key path):
//
//   predicate  = or ;
//   or         = and { ("OR" | "||") and } ;
//   and        = not { ("AND" | "&&") not } ;
//   not        = ("NOT" | "!") not | primary ;
//   primary    = "(" or ")" | "TRUEPREDICATE" | "FALSEPREDICATE" | comparison ;
//   comparison = expression operator [ "[" { "c" | "d" | "n" | "l" } "]" ] expression ;
//   operator   = "==" | "=" | "!=" | "<>" | "<" | "<=" | "=<" | ">" | ">=" | "=>"
//              | "IN" | "BETWEEN" | "CONTAINS" | "BEGINSWITH" | "ENDSWITH" | "LIKE" ;
//   expression = keypath | "%K" | constant | "{" [ constant { "," constant } ] "}" ;
//   keypath    = name { "." name } ;          name = [ "#" ] ( letter | "_" ) { letter | digit | "_" }
//   constant   = "%@" | "%d" | "%i" | "%u" | "%f" | "%g" | "%e" (with l, h, q modifiers)
//              | quoted string ('...' or "...", backslash escapes) | number
//              | "nil" | "NULL" | "TRUE" | "YES" | "FALSE" | "NO" ;
//
// IN takes a list or a key path on its right; BETWEEN a list of exactly two. "[c]" compares
// case-insensitively, "[d]" ignoring diacritics; "n" and "l" are accepted and change nothing.
// Anything else (ANY, ALL, MATCHES, SELF, functions) is refused with an error naming where.
#include "platform/store/predicate.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include "platform/store/errors.h"

namespace store {

namespace {

using foundation::Value;

enum class Tok {
  End,
  LParen,
  RParen,
  LBrace,
  RBrace,
  Comma,
  Op,        // comparison operator, text in `text`
  AndOp,     // && or AND
  OrOp,      // || or OR
  NotOp,     // ! or NOT
  Word,      // identifier or keyword, text in `text`
  KeyPath,   // identifiers joined by dots
  Literal,   // constant value
  Argument,  // %@ and friends, value in `value`
  KeyArg,    // %K
};

struct Token {
  Tok kind = Tok::End;
  std::string text;
  Value value;
  size_t position = 0;
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

class Parser {
 public:
  Parser(std::string_view format, std::vector<Value> arguments)
      : text_(format), args_(std::move(arguments)) {}

  foundation::Result<std::shared_ptr<const PredicateNode>> run() {
    if (!tokenize()) return error_;
    auto node = parseOr();
    if (!node) return error_;
    if (peek().kind != Tok::End) return fail("Unexpected text", peek().position);
    if (nextArg_ != args_.size()) return fail("More arguments than format specifiers", text_.size());
    return std::shared_ptr<const PredicateNode>(std::move(node));
  }

 private:
  using NodePtr = std::shared_ptr<PredicateNode>;

  foundation::Error fail(std::string_view what, size_t position) {
    if (!failed_) {
      failed_ = true;
      error_ = makeError(kCoreDataError, "Unable to parse the format string \"" + std::string(text_) +
                                             "\": " + std::string(what) + " at " + std::to_string(position));
    }
    return error_;
  }

  bool nextArgument(size_t position, Value& out) {
    if (nextArg_ >= args_.size()) {
      fail("Too few arguments", position);
      return false;
    }
    out = args_[nextArg_++];
    return true;
  }

  bool tokenize() {
    size_t i = 0;
    const size_t n = text_.size();
    while (i < n) {
      const char c = text_[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
        continue;
      }
      Token t;
      t.position = i;
      auto two = [&](std::string_view s) { return text_.substr(i, s.size()) == s; };
      if (c == '(') {
        t.kind = Tok::LParen;
        ++i;
      } else if (c == ')') {
        t.kind = Tok::RParen;
        ++i;
      } else if (c == '{') {
        t.kind = Tok::LBrace;
        ++i;
      } else if (c == '}') {
        t.kind = Tok::RBrace;
        ++i;
      } else if (c == ',') {
        t.kind = Tok::Comma;
        ++i;
      } else if (two("&&")) {
        t.kind = Tok::AndOp;
        i += 2;
      } else if (two("||")) {
        t.kind = Tok::OrOp;
        i += 2;
      } else if (two("==") || two("!=") || two("<>") || two("<=") || two(">=") || two("=<") || two("=>")) {
        t.kind = Tok::Op;
        t.text = std::string(text_.substr(i, 2));
        i += 2;
      } else if (c == '=' || c == '<' || c == '>') {
        t.kind = Tok::Op;
        t.text = std::string(1, c);
        ++i;
      } else if (c == '!') {
        t.kind = Tok::NotOp;
        ++i;
      } else if (c == '%') {
        if (!formatSpecifier(i, t)) return false;
      } else if (c == '\'' || c == '"') {
        if (!quoted(i, t)) return false;
      } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                 ((c == '-' || c == '+') && i + 1 < n &&
                  std::isdigit(static_cast<unsigned char>(text_[i + 1])))) {
        if (!number(i, t)) return false;
      } else if (isIdentStart(c) || c == '#') {
        word(i, t);
      } else if (c == '[') {
        // Options of the preceding operator: [c], [d], [cd].
        const size_t close = text_.find(']', i);
        if (close == std::string_view::npos || tokens_.empty() ||
            (tokens_.back().kind != Tok::Op && tokens_.back().kind != Tok::Word)) {
          fail("Misplaced options", i);
          return false;
        }
        const std::string options = upper(text_.substr(i + 1, close - i - 1));
        for (char o : options) {
          if (o == 'C')
            optionsAt_.emplace_back(tokens_.size() - 1, kCaseInsensitive);
          else if (o == 'D')
            optionsAt_.emplace_back(tokens_.size() - 1, kDiacriticInsensitive);
          else if (o != 'N' && o != 'L') {
            fail("Unknown option", i);
            return false;
          }
        }
        i = close + 1;
        continue;
      } else {
        fail("Unexpected character", i);
        return false;
      }
      tokens_.push_back(std::move(t));
    }
    Token end;
    end.position = n;
    tokens_.push_back(end);
    return true;
  }

  bool formatSpecifier(size_t& i, Token& t) {
    const size_t start = i++;
    std::string modifiers;
    while (i < text_.size() && (text_[i] == 'l' || text_[i] == 'h' || text_[i] == 'q'))
      modifiers.push_back(text_[i++]);
    if (i >= text_.size()) {
      fail("Incomplete format specifier", start);
      return false;
    }
    const char conversion = text_[i++];
    switch (conversion) {
      case '@':
        t.kind = Tok::Argument;
        return nextArgument(start, t.value);
      case 'K': {
        t.kind = Tok::KeyArg;
        Value v;
        if (!nextArgument(start, v)) return false;
        if (!v.string()) {
          fail("%K needs a string argument", start);
          return false;
        }
        t.text = *v.string();
        return true;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'f':
      case 'g':
      case 'e': {
        t.kind = Tok::Argument;
        if (!nextArgument(start, t.value)) return false;
        if (!t.value.isNumber() && !t.value.boolean()) {
          fail("Numeric format specifier needs a number", start);
          return false;
        }
        return true;
      }
      default:
        fail("Unsupported format specifier", start);
        return false;
    }
  }

  bool quoted(size_t& i, Token& t) {
    const char quote = text_[i];
    const size_t start = i++;
    std::string out;
    while (i < text_.size() && text_[i] != quote) {
      char c = text_[i++];
      if (c == '\\' && i < text_.size()) {
        const char e = text_[i++];
        switch (e) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case 'r':
            c = '\r';
            break;
          default:
            c = e;
            break;
        }
      }
      out.push_back(c);
    }
    if (i >= text_.size()) {
      fail("Unterminated string", start);
      return false;
    }
    ++i;
    t.kind = Tok::Literal;
    t.value = Value(std::move(out));
    return true;
  }

  bool number(size_t& i, Token& t) {
    const size_t start = i;
    if (text_[i] == '-' || text_[i] == '+') ++i;
    bool real = false;
    while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
    if (i < text_.size() && text_[i] == '.') {
      real = true;
      ++i;
      while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
    }
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
      real = true;
      ++i;
      if (i < text_.size() && (text_[i] == '-' || text_[i] == '+')) ++i;
      while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
    }
    std::string digits(text_.substr(start, i - start));
    if (digits[0] == '+') digits.erase(0, 1);
    t.kind = Tok::Literal;
    if (!real) {
      long long v = 0;
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec == std::errc() && p == digits.data() + digits.size()) {
        t.value = Value(v);
        return true;
      }
    }
    char* end = nullptr;
    const double d = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) {
      fail("Malformed number", start);
      return false;
    }
    t.value = Value(d);
    return true;
  }

  void word(size_t& i, Token& t) {
    const size_t start = i;
    bool escaped = false;
    std::vector<std::string> parts;
    for (;;) {
      if (i < text_.size() && text_[i] == '#') {
        escaped = true;
        ++i;
      }
      const size_t partStart = i;
      while (i < text_.size() && isIdentChar(text_[i])) ++i;
      parts.emplace_back(text_.substr(partStart, i - partStart));
      if (i + 1 < text_.size() && text_[i] == '.' && (isIdentStart(text_[i + 1]) || text_[i + 1] == '#')) {
        ++i;
        continue;
      }
      break;
    }
    t.position = start;
    if (parts.size() == 1 && !escaped) {
      const std::string u = upper(parts[0]);
      if (u == "AND") {
        t.kind = Tok::AndOp;
        return;
      }
      if (u == "OR") {
        t.kind = Tok::OrOp;
        return;
      }
      if (u == "NOT") {
        t.kind = Tok::NotOp;
        return;
      }
      if (u == "NIL" || u == "NULL") {
        t.kind = Tok::Literal;
        t.value = Value();
        return;
      }
      if (u == "TRUE" || u == "YES") {
        t.kind = Tok::Literal;
        t.value = Value(true);
        return;
      }
      if (u == "FALSE" || u == "NO") {
        t.kind = Tok::Literal;
        t.value = Value(false);
        return;
      }
      static const char* const kWords[] = {"IN",   "BETWEEN", "CONTAINS",      "BEGINSWITH",     "ENDSWITH",
                                           "LIKE", "MATCHES", "TRUEPREDICATE", "FALSEPREDICATE", "ANY",
                                           "ALL",  "SOME",    "NONE",          "SELF",           "FIRST",
                                           "LAST", "SIZE"};
      for (const char* w : kWords) {
        if (u == w) {
          t.kind = Tok::Word;
          t.text = u;
          return;
        }
      }
    }
    t.kind = Tok::KeyPath;
    std::string joined;
    for (size_t p = 0; p < parts.size(); ++p) joined += (p ? "." : "") + parts[p];
    t.text = joined;
  }

  const Token& peek() const { return tokens_[pos_]; }
  Token take() { return tokens_[pos_++]; }

  unsigned optionsOf(size_t tokenIndex) const {
    unsigned options = 0;
    for (const auto& [index, option] : optionsAt_)
      if (index == tokenIndex) options |= option;
    return options;
  }

  NodePtr parseOr() {
    NodePtr left = parseAnd();
    if (!left) return nullptr;
    while (peek().kind == Tok::OrOp) {
      take();
      NodePtr right = parseAnd();
      if (!right) return nullptr;
      left = combine(PredicateNode::Kind::Or, std::move(left), std::move(right));
    }
    return left;
  }

  NodePtr parseAnd() {
    NodePtr left = parseNot();
    if (!left) return nullptr;
    while (peek().kind == Tok::AndOp) {
      take();
      NodePtr right = parseNot();
      if (!right) return nullptr;
      left = combine(PredicateNode::Kind::And, std::move(left), std::move(right));
    }
    return left;
  }

  static NodePtr combine(PredicateNode::Kind kind, NodePtr left, NodePtr right) {
    if (left->kind == kind) {
      left->children.push_back(std::move(right));
      return left;
    }
    auto node = std::make_shared<PredicateNode>();
    node->kind = kind;
    node->children = {std::move(left), std::move(right)};
    return node;
  }

  NodePtr parseNot() {
    if (peek().kind == Tok::NotOp) {
      take();
      NodePtr inner = parseNot();
      if (!inner) return nullptr;
      auto node = std::make_shared<PredicateNode>();
      node->kind = PredicateNode::Kind::Not;
      node->children = {std::move(inner)};
      return node;
    }
    return parsePrimary();
  }

  NodePtr parsePrimary() {
    const Token& t = peek();
    if (t.kind == Tok::LParen) {
      take();
      NodePtr inner = parseOr();
      if (!inner) return nullptr;
      if (peek().kind != Tok::RParen) {
        fail("Missing )", peek().position);
        return nullptr;
      }
      take();
      return inner;
    }
    if (t.kind == Tok::Word && (t.text == "TRUEPREDICATE" || t.text == "FALSEPREDICATE")) {
      auto node = std::make_shared<PredicateNode>();
      node->kind = t.text == "TRUEPREDICATE" ? PredicateNode::Kind::True : PredicateNode::Kind::False;
      take();
      return node;
    }
    return parseComparison();
  }

  bool parseExpression(Expression& out) {
    const Token t = peek();
    switch (t.kind) {
      case Tok::KeyPath:
      case Tok::KeyArg: {
        take();
        std::vector<std::string> parts;
        size_t from = 0;
        for (;;) {
          const size_t dot = t.text.find('.', from);
          parts.push_back(t.text.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
          if (dot == std::string::npos) break;
          from = dot + 1;
        }
        for (const auto& p : parts) {
          if (p.empty()) {
            fail("Malformed key path", t.position);
            return false;
          }
        }
        out = Expression::key(std::move(parts));
        return true;
      }
      case Tok::Literal:
      case Tok::Argument:
        take();
        out = Expression::value(t.value);
        return true;
      case Tok::LBrace: {
        take();
        foundation::Array items;
        if (peek().kind != Tok::RBrace) {
          for (;;) {
            const Token item = peek();
            if (item.kind != Tok::Literal && item.kind != Tok::Argument) {
              fail("Expected a constant in the list", item.position);
              return false;
            }
            take();
            items.push_back(item.value);
            if (peek().kind == Tok::Comma) {
              take();
              continue;
            }
            break;
          }
        }
        if (peek().kind != Tok::RBrace) {
          fail("Missing }", peek().position);
          return false;
        }
        take();
        out = Expression::value(Value(std::move(items)));
        return true;
      }
      case Tok::Word:
        fail("Unsupported keyword " + t.text, t.position);
        return false;
      default:
        fail("Expected an expression", t.position);
        return false;
    }
  }

  NodePtr parseComparison() {
    auto node = std::make_shared<PredicateNode>();
    node->kind = PredicateNode::Kind::Comparison;
    if (!parseExpression(node->lhs)) return nullptr;
    const size_t opIndex = pos_;
    const Token op = take();
    if (op.kind == Tok::Op) {
      const std::string& s = op.text;
      if (s == "==" || s == "=")
        node->op = Operator::Equal;
      else if (s == "!=" || s == "<>")
        node->op = Operator::NotEqual;
      else if (s == "<")
        node->op = Operator::Less;
      else if (s == "<=" || s == "=<")
        node->op = Operator::LessEqual;
      else if (s == ">")
        node->op = Operator::Greater;
      else
        node->op = Operator::GreaterEqual;
    } else if (op.kind == Tok::Word && op.text == "IN") {
      node->op = Operator::In;
    } else if (op.kind == Tok::Word && op.text == "BETWEEN") {
      node->op = Operator::Between;
    } else if (op.kind == Tok::Word && op.text == "CONTAINS") {
      node->op = Operator::Contains;
    } else if (op.kind == Tok::Word && op.text == "BEGINSWITH") {
      node->op = Operator::BeginsWith;
    } else if (op.kind == Tok::Word && op.text == "ENDSWITH") {
      node->op = Operator::EndsWith;
    } else if (op.kind == Tok::Word && op.text == "LIKE") {
      node->op = Operator::Like;
    } else {
      fail("Expected a comparison operator", op.position);
      return nullptr;
    }
    node->options = optionsOf(opIndex);
    if (!parseExpression(node->rhs)) return nullptr;
    if ((node->op == Operator::In || node->op == Operator::Between) && !node->rhs.constant.isArray() &&
        !node->rhs.isKeyPath()) {
      fail("IN and BETWEEN need a list", op.position);
      return nullptr;
    }
    if (node->op == Operator::Between && (node->rhs.isKeyPath() || node->rhs.constant.array()->size() != 2)) {
      fail("BETWEEN needs a list of two values", op.position);
      return nullptr;
    }
    return node;
  }

  std::string_view text_;
  std::vector<Value> args_;
  size_t nextArg_ = 0;
  std::vector<Token> tokens_;
  std::vector<std::pair<size_t, unsigned>> optionsAt_;
  size_t pos_ = 0;
  bool failed_ = false;
  foundation::Error error_;
};

std::string quoteValue(const Value& v) {
  if (v.isNull()) return "nil";
  if (const auto* s = v.string()) {
    std::string out = "\"";
    for (char c : *s) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    return out + "\"";
  }
  if (const auto* a = v.array()) {
    std::string out = "{";
    for (size_t i = 0; i < a->size(); ++i) out += (i ? ", " : "") + quoteValue((*a)[i]);
    return out + "}";
  }
  if (const auto* b = v.boolean()) return *b ? "1" : "0";
  if (const auto* d = v.date()) return "CAST(" + std::to_string(d->sinceReference) + ", \"NSDate\")";
  return v.description();
}

std::string describe(const PredicateNode& node, bool nested) {
  switch (node.kind) {
    case PredicateNode::Kind::True:
      return "TRUEPREDICATE";
    case PredicateNode::Kind::False:
      return "FALSEPREDICATE";
    case PredicateNode::Kind::Not:
      return "NOT " + describe(*node.children[0], true);
    case PredicateNode::Kind::And:
    case PredicateNode::Kind::Or: {
      std::string out;
      const char* joiner = node.kind == PredicateNode::Kind::And ? " AND " : " OR ";
      for (size_t i = 0; i < node.children.size(); ++i)
        out += (i ? joiner : "") + describe(*node.children[i], true);
      return nested ? "(" + out + ")" : out;
    }
    case PredicateNode::Kind::Comparison: {
      std::string op(operatorName(node.op));
      if (node.options) {
        op += "[";
        if (node.options & kCaseInsensitive) op += "c";
        if (node.options & kDiacriticInsensitive) op += "d";
        op += "]";
      }
      return node.lhs.description() + " " + op + " " + node.rhs.description();
    }
  }
  return "";
}

}  // namespace

Expression Expression::key(std::vector<std::string> path) {
  Expression e;
  e.kind = Kind::KeyPath;
  e.keyPath = std::move(path);
  return e;
}

Expression Expression::value(foundation::Value value) {
  Expression e;
  e.kind = Kind::Constant;
  e.constant = std::move(value);
  return e;
}

std::string Expression::description() const {
  if (kind == Kind::Constant) return quoteValue(constant);
  std::string out;
  for (size_t i = 0; i < keyPath.size(); ++i) out += (i ? "." : "") + keyPath[i];
  return out;
}

std::string_view operatorName(Operator op) {
  switch (op) {
    case Operator::Equal:
      return "==";
    case Operator::NotEqual:
      return "!=";
    case Operator::Less:
      return "<";
    case Operator::LessEqual:
      return "<=";
    case Operator::Greater:
      return ">";
    case Operator::GreaterEqual:
      return ">=";
    case Operator::In:
      return "IN";
    case Operator::Between:
      return "BETWEEN";
    case Operator::BeginsWith:
      return "BEGINSWITH";
    case Operator::EndsWith:
      return "ENDSWITH";
    case Operator::Contains:
      return "CONTAINS";
    case Operator::Like:
      return "LIKE";
  }
  return "?";
}

Predicate::Predicate() : root_(std::make_shared<PredicateNode>()) {}

foundation::Result<Predicate> Predicate::parse(std::string_view format,
                                               std::vector<foundation::Value> arguments) {
  Parser parser(format, std::move(arguments));
  auto root = parser.run();
  if (!root) return root.error();
  return Predicate(std::move(*root));
}

Predicate Predicate::andPredicates(const std::vector<Predicate>& predicates) {
  auto node = std::make_shared<PredicateNode>();
  node->kind = PredicateNode::Kind::And;
  for (const auto& p : predicates) node->children.push_back(p.root_);
  return Predicate(std::move(node));
}

Predicate Predicate::orPredicates(const std::vector<Predicate>& predicates) {
  auto node = std::make_shared<PredicateNode>();
  node->kind = PredicateNode::Kind::Or;
  for (const auto& p : predicates) node->children.push_back(p.root_);
  return Predicate(std::move(node));
}

Predicate Predicate::notPredicate(const Predicate& predicate) {
  auto node = std::make_shared<PredicateNode>();
  node->kind = PredicateNode::Kind::Not;
  node->children.push_back(predicate.root_);
  return Predicate(std::move(node));
}

Predicate Predicate::falsePredicate() {
  auto node = std::make_shared<PredicateNode>();
  node->kind = PredicateNode::Kind::False;
  return Predicate(std::move(node));
}

std::string Predicate::description() const { return describe(*root_, false); }

}  // namespace store
