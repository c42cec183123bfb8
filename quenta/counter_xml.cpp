/* The rate XML loader: a "RateInfoDataSet" of "RateInfo" elements, each turned
 * into a rate-info line and parsed like a line of the rate file. Bytes outside
 * the small XML alphabet (area names in a double-byte code page, for one) are
 * masked before Mini-XML sees the text. A rejected "RateInfo" is skipped. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>

#include <mxml.h>

#include "quenta/counter.h"
#include "quenta/stationfile.h"
#include "utils/debug.h"

namespace {

const char xmlsign[] = "<>?\"./:=\r\n \t";

bool is_xml_byte(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         (c != '\0' && strchr(xmlsign, c) != nullptr);
}

bool is_element(mxml_node_t *node, const char *name)
{
  return mxmlGetType(node) == MXML_ELEMENT && strcasecmp(mxmlGetElement(node), name) == 0;
}

/* The first sibling from node on that is an element called name (any case). */
mxml_node_t *find_xml_element(mxml_node_t *node, const char *name)
{
  for (; node; node = mxmlGetNextSibling(node))
    if (is_element(node, name))
      return node;
  return nullptr;
}

enum value_kind { V_MISSING, V_TEXT, V_NOT_TEXT };

/* An element's value is its first child when that is text: the first word of
 * its content. */
value_kind element_value(mxml_node_t *element, const char **text)
{
  *text = nullptr;
  mxml_node_t *child = element ? mxmlGetFirstChild(element) : nullptr;
  if (!child)
    return V_MISSING;
  if (mxmlGetType(child) != MXML_TEXT)
    return V_NOT_TEXT;
  *text = mxmlGetText(child, nullptr);
  return *text ? V_TEXT : V_MISSING;
}

const char *value_or(mxml_node_t *first, const char *name, const char *fallback)
{
  const char *text;
  return element_value(find_xml_element(first, name), &text) == V_TEXT ? text : fallback;
}

/* One "RateInfo": 0 when a rule was added, -1 when the element was rejected. */
int counter_build_rateinfo_xml(struct normal_counter *nc, mxml_node_t *rateinfo)
{
  mxml_node_t *first = mxmlGetFirstChild(rateinfo);

  const char *pattern;
  if (element_value(find_xml_element(first, "pattern"), &pattern) != V_TEXT) {
    DLOG("RateInfo without pattern");
    return -1;
  }
  bool is_default = strcasecmp(pattern, ".default") == 0;

  std::string line = is_default ? XML_DEFAULT_PREFIX : pattern;
  line += '|';
  line += value_or(first, "service_charge", "0.00");
  line += '|';
  int written = 0;
  for (int i = 1; i <= MAX_PERIODS; i++) {
    char pname[16], rname[16];
    snprintf(pname, sizeof pname, "period%d", i);
    snprintf(rname, sizeof rname, "rate%d", i);
    const char *start, *price;
    value_kind pk = element_value(find_xml_element(first, pname), &start);
    if (pk == V_NOT_TEXT) {
      DLOG("RateInfo %s: %s holds no text", pattern, pname);
      return -1;
    }
    if (pk != V_TEXT || element_value(find_xml_element(first, rname), &price) != V_TEXT)
      continue;
    if (written++ > 0)
      line += ',';
    line += start;
    line += '-';
    line += price;
  }
  line += '|';
  line += value_or(first, "three_one", "00:0.00");
  line += '|';
  line += value_or(first, "freelimit", "0");
  line += '|';
  const char *unit;
  if (element_value(find_xml_element(first, "unit"), &unit) != V_TEXT) {
    DLOG("RateInfo %s without unit", pattern);
    return -1;
  }
  line += unit;
  DLOG("rateinfo str: \"%.180s\"", line.c_str());

  auto *rule = static_cast<RateInfo *>(calloc(1, sizeof(RateInfo)));
  if (!rule) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (parser_getRateInfo(line.c_str(), rule) != 0) {
    LOG_FUNCTION_FAILED();
    free(rule);
    return -1;
  }
  if (is_default)
    DLOG("default rule: %.180s", line.c_str());
  /* a document's area names reach the loader as runs of X: the prefix names the rule */
  if (!is_default)
    rule_set_name(rule, rule->m_prefix, (int)strlen(rule->m_prefix));
  return counter_add_rule(nc, rule, is_default);
}

/* Every "RateInfo" child of a "RateInfoDataSet"; the rule count afterwards. */
int counter_build_rateinfos(struct normal_counter *nc, mxml_node_t *set)
{
  for (mxml_node_t *n = mxmlGetFirstChild(set); n; n = mxmlGetNextSibling(n)) {
    if (!is_element(n, "RateInfo"))
      continue;
    if (counter_build_rateinfo_xml(nc, n) != 0)
      LOG_FUNCTION_FAILED();
  }
  return utils::datalist_size(nc->m_rate_info);
}

int counter_process_xml(struct normal_counter *nc, mxml_node_t *tree)
{
  for (mxml_node_t *node = tree; node; node = mxmlGetNextSibling(node)) {
    /* Mini-XML names the declaration after its whole text ("?xml version=...")
     * and may hang the rest of the document below it */
    if (mxmlGetType(node) == MXML_ELEMENT && strncasecmp(mxmlGetElement(node), "?xml", 4) == 0) {
      for (mxml_node_t *n = mxmlGetFirstChild(node); n; n = mxmlGetNextSibling(n))
        if (is_element(n, "RateInfoDataSet"))
          counter_build_rateinfos(nc, n);
    } else if (is_element(node, "RateInfoDataSet")) {
      counter_build_rateinfos(nc, node);
    }
  }
  return 0;
}

} /* namespace */

void counter_load_rate_xml(struct normal_counter *nc, const char *filename)
{
  unique_file f(fopen(filename, "rb"));
  if (!f) {
    LOG_FUNCTION_FAILED();
    return;
  }
  std::string data;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f.get())) > 0)
    data.append(chunk, n);
  if (ferror(f.get())) {
    LOG_FUNCTION_FAILED();
    return;
  }
  DLOG("buffer length: %d", (int)data.size());
  /* a log line that would be too long is dropped whole: show the beginning */
  DLOG("buf: %.180s", data.c_str());

  size_t start = data.find('<');
  std::string text = start == std::string::npos ? std::string() : data.substr(start);
  for (char &c : text)
    if (!is_xml_byte(c))
      c = 'X';
  DLOG("xmlStart: %.180s", text.c_str());
  fputs("\n\n", stderr);

  /* The document hangs below a node of our own: Mini-XML without one leaves
   * every top-level node after the first unowned when a document fails to
   * parse, and deleting the first would not free its siblings. */
  mxml_node_t *top = mxmlNewElement(MXML_NO_PARENT, "rates");
  if (!top) {
    LOG_FUNCTION_FAILED();
    return;
  }
  if (!mxmlLoadString(top, text.c_str(), MXML_NO_CALLBACK)) {
    LOG_FUNCTION_FAILED();
    mxmlDelete(top);
    return;
  }
  counter_process_xml(nc, mxmlGetFirstChild(top));
  mxmlDelete(top);
}
