#include "xml/ms_xml_node.h"

#include <msxml2.h>
#include <oleauto.h>

#include <memory>
#include <utility>

#include "platform/win32/scoped_win_handle.h"

namespace ostra {
namespace {

// Declared by the platform headers but defined in none of the import
// libraries.
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr char kAppendChildError[] = "MsXmlElement::appendChild : Invalid Parameter!\n";
constexpr char kEntitiesRefused[] =
    "[MsXmlNode] FromFile - refused: the document type declares entities";

// One COM reference, released when the holder goes.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The address to receive a new reference; drops the current one first.
  T** put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

 private:
  T* p_ = nullptr;
};

// A BSTR owned for the length of one call.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {
    if (!b_) throwOutOfMemory();
  }
  // Converts narrow text with the given code page (by default the thread's
  // ANSI code page); null means empty.
  explicit Bstr(const char* text, UINT codePage = CP_THREAD_ACP) {
    const int length = text ? static_cast<int>(std::char_traits<char>::length(text)) : 0;
    const int wide = length ? MultiByteToWideChar(codePage, 0, text, length, nullptr, 0) : 0;
    b_ = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
    if (!b_) throwOutOfMemory();
    if (wide) MultiByteToWideChar(codePage, 0, text, length, b_, wide);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const { return b_; }
  BSTR* put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  BSTR release() { return std::exchange(b_, nullptr); }

  [[noreturn]] static void throwOutOfMemory() {
    throw XmlComError("[MsXmlNode] out of memory", E_OUTOFMEMORY);
  }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT cleared when the holder goes.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  // A string VARIANT from narrow text in the given code page.
  explicit Variant(const char* text, UINT codePage = CP_THREAD_ACP) : Variant() {
    Bstr b(text, codePage);
    v_.vt = VT_BSTR;
    v_.bstrVal = b.release();
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  const VARIANT& value() const { return v_; }

 private:
  VARIANT v_;
};

// Converts a DOM text to UTF-8: measured first, then converted into a buffer
// of that size.
std::string toUtf8(const wchar_t* text, UINT length) {
  std::string out;
  if (!text || length == 0) return out;
  const int wide = static_cast<int>(length);
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return out;
  out.resize(static_cast<size_t>(needed));
  WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data(), needed, nullptr, nullptr);
  return out;
}

std::string* storeText(BSTR text, std::string* out) {
  std::string utf8 = toUtf8(text, SysStringLen(text));
  if (!out) return new std::string(std::move(utf8));
  out->clear();
  *out = std::move(utf8);
  return out;
}

// Scans a file for a document type declaration that declares an entity
// ("<!ENTITY" after "<!DOCTYPE"), reading it in pieces without keeping it.
// UTF-16 files (found by their byte order mark or by a leading '<' beside a
// zero byte) are scanned by character; everything else by byte. A file that
// cannot be read is left to the DOM, whose load then fails.
bool declaresEntities(const char* path) {
  const platform::ScopedWinHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  static const char kDoctype[] = "<!DOCTYPE";
  static const char kEntity[] = "<!ENTITY";
  enum class Encoding { kUnknown, kBytes, kUtf16Le, kUtf16Be } encoding = Encoding::kUnknown;
  std::string recent;  // the last characters seen, enough for either marker
  bool inDoctype = false, declares = false;
  int pending = -1;  // the first byte of a UTF-16 unit split between reads
  unsigned char buffer[65536];
  DWORD got = 0;
  while (!declares && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    DWORD at = 0;
    if (encoding == Encoding::kUnknown) {
      encoding = Encoding::kBytes;
      if (got >= 2 &&
          ((buffer[0] == 0xFF && buffer[1] == 0xFE) || (buffer[0] == '<' && !buffer[1]))) {
        encoding = Encoding::kUtf16Le;
      } else if (got >= 2 &&
                 ((buffer[0] == 0xFE && buffer[1] == 0xFF) || (!buffer[0] && buffer[1] == '<'))) {
        encoding = Encoding::kUtf16Be;
      }
    }
    for (; at < got && !declares; ++at) {
      unsigned int unit = buffer[at];
      if (encoding != Encoding::kBytes) {
        if (pending < 0) {
          pending = buffer[at];
          continue;
        }
        unit = encoding == Encoding::kUtf16Le
                   ? (buffer[at] << 8) | pending
                   : (static_cast<unsigned int>(pending) << 8) | buffer[at];
        pending = -1;
      }
      recent.push_back(unit < 0x80 ? static_cast<char>(unit) : '\x80');
      if (recent.size() > sizeof kDoctype) recent.erase(0, 1);
      if (!inDoctype) {
        inDoctype =
            recent.size() >= sizeof kDoctype - 1 &&
            recent.compare(recent.size() - (sizeof kDoctype - 1), std::string::npos, kDoctype) == 0;
      } else {
        declares =
            recent.size() >= sizeof kEntity - 1 &&
            recent.compare(recent.size() - (sizeof kEntity - 1), std::string::npos, kEntity) == 0;
      }
    }
  }
  return declares;
}

// COM is initialised once on each thread that makes a document, whatever
// that first call answered: the language data is read on a worker thread,
// and again on the main thread when the worker does not finish in time.
void initialiseComOnce() {
  static thread_local bool done = false;
  if (!done) {
    done = true;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
}

}  // namespace

AbstractXmlNode::AbstractXmlNode(IXmlNode* owner, IXmlNode* document)
    : owner_(owner), document_(document) {
  if (!document_) document_ = owner_ ? owner_->getDocument() : static_cast<IXmlNode*>(this);
}

IXmlElement* AbstractXmlNode::toElement() {
  return isElement() ? dynamic_cast<IXmlElement*>(this) : nullptr;
}

IXmlAttribute* AbstractXmlNode::toAttribute() {
  return isAttribute() ? dynamic_cast<IXmlAttribute*>(this) : nullptr;
}

MsXmlNode::MsXmlNode(IXMLDOMNode* node, IXmlNode* owner, IXmlNode* document)
    : AbstractXmlNode(owner, document), node_(node) {
  if (node_) node_->AddRef();
}

MsXmlNode::~MsXmlNode() {
  if (node_) node_->Release();
}

MsXmlNode* MsXmlNode::Instantiate(IXMLDOMDocument* existing) {
  initialiseComOnce();
  if (existing) return new MsXmlNode(existing, nullptr, nullptr);

  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"msxml2.DOMDocument", &clsid))) {
    throw std::runtime_error("[MsXmlNode] Microsoft MSXML2 DOM is not installed on the system!");
  }
  ComRef<IXMLDOMDocument2> document;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                                      document.putVoid());
  if (hr != S_OK || !document) throw std::runtime_error("[MsXmlNode] CoCreateInstance() failed");

  // A document without its declaration is still usable, so a failure here is
  // not an error.
  Bstr target(L"xml");
  Bstr data(L"version=\"1.0\" encoding=\"UTF-8\"");
  ComRef<IXMLDOMProcessingInstruction> declaration;
  if (SUCCEEDED(
          document->createProcessingInstruction(target.get(), data.get(), declaration.put())) &&
      declaration) {
    ComRef<IXMLDOMNode> appended;
    document->appendChild(declaration.get(), appended.put());
  }
  return new MsXmlNode(document.get(), nullptr, nullptr);
}

MsXmlNode* MsXmlNode::FromFile(const char* path, IXMLDOMDocument* existing) {
  // What a DOM does with a document type's entities depends on its version
  // and defaults; an entity that reads a local file would put that file into
  // the document's texts. Every platform refuses such a document alike.
  if (path && declaresEntities(path)) throw std::runtime_error(kEntitiesRefused);
  const bool created = existing == nullptr;
  std::unique_ptr<MsXmlNode> node(Instantiate(existing));
  if (!node) throw std::runtime_error("[MsXmlNode] Instantiate() failed");

  ComRef<IXMLDOMDocument> document;
  HRESULT hr = node->node_ ? node->node_->QueryInterface(IID_IXMLDOMDocument, document.putVoid())
                           : E_POINTER;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (SUCCEEDED(hr) && document) {
    // Our own documents load synchronously so that the result is final; a
    // caller's document keeps the mode its owner chose.
    if (created) document->put_async(VARIANT_FALSE);
    // Nothing outside the file is fetched, whatever the defaults; a DOM that
    // knows the property refuses document types altogether.
    document->put_resolveExternals(VARIANT_FALSE);
    ComRef<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document->QueryInterface(kIidXmlDomDocument2, document2.putVoid())) &&
        document2) {
      Bstr name(L"ProhibitDTD");
      VARIANT prohibit;
      VariantInit(&prohibit);
      prohibit.vt = VT_BOOL;
      prohibit.boolVal = VARIANT_TRUE;
      document2->setProperty(name.get(), prohibit);
    }
    // The path is in the ANSI code page, as the system's file functions
    // read narrow paths (and GetModuleFileNameA gives them).
    Variant source(path, CP_ACP);
    hr = document->load(*source.get(), &loaded);
  }
  if (hr != S_OK || loaded == VARIANT_FALSE) {
    throw std::runtime_error("[MsXmlNode] FromFile - load failed");
  }
  return node.release();
}

MsXmlNode* MsXmlNode::FromFile(const std::string& path, IXMLDOMDocument* existing) {
  return FromFile(path.c_str(), existing);
}

MsXmlNode* MsXmlNode::makeChild(IXMLDOMNode* node) {
  return new MsXmlNode(node, this, getDocument());
}

int32_t MsXmlNode::getNodeType() {
  DOMNodeType type = NODE_INVALID;
  if (!node_ || FAILED(node_->get_nodeType(&type))) return kXmlNodeUnknown;
  if (type < NODE_ELEMENT || type > NODE_NOTATION) return kXmlNodeUnknown;
  return static_cast<int32_t>(type);
}

void MsXmlNode::setDataType(const char* dataType) {
  if (!node_) return;
  Bstr type(dataType);
  node_->put_dataType(type.get());
}

int32_t MsXmlNode::getTextLength() {
  Bstr text;
  if (!node_ || FAILED(node_->get_text(text.put()))) return 0;
  return static_cast<int32_t>(SysStringLen(text.get()));
}

int32_t MsXmlNode::getChildCount() {
  ComRef<IXMLDOMNodeList> children;
  if (!node_ || FAILED(node_->get_childNodes(children.put())) || !children) return 0;
  long length = 0;
  if (FAILED(children->get_length(&length))) return 0;
  return static_cast<int32_t>(length);
}

std::string* MsXmlNode::getDataType(std::string* out) {
  Variant type;
  if (!node_ || node_->get_dataType(type.get()) != S_OK) return nullptr;
  if (type.value().vt != VT_BSTR) return nullptr;
  return storeText(type.value().bstrVal, out);
}

std::string* MsXmlNode::getText(std::string* out) {
  Bstr text;
  if (!node_ || node_->get_text(text.put()) != S_OK) return nullptr;
  return storeText(text.get(), out);
}

HRESULT MsXmlNode::setText(const char* text) {
  if (!node_) return E_POINTER;
  Bstr value(text);
  return node_->put_text(value.get());
}

std::string* MsXmlNode::getTypedValue() {
  Variant value;
  if (!node_ || node_->get_nodeTypedValue(value.get()) != S_OK) return nullptr;
  if (value.value().vt != VT_BSTR) return nullptr;
  return storeText(value.value().bstrVal, nullptr);
}

HRESULT MsXmlNode::setValue(const char* value) {
  if (getNodeType() != kXmlNodeAttribute) return E_INVALIDARG;
  ComRef<IXMLDOMAttribute> attribute;
  const HRESULT hr = node_->QueryInterface(IID_IXMLDOMAttribute, attribute.putVoid());
  if (FAILED(hr) || !attribute) return FAILED(hr) ? hr : E_NOINTERFACE;
  Variant text(value);
  return attribute->put_value(*text.get());
}

IXmlNode* MsXmlNode::selectSingleNode(const char* query) {
  if (!node_) return nullptr;
  Bstr expression(query);
  ComRef<IXMLDOMNode> found;
  if (node_->selectSingleNode(expression.get(), found.put()) != S_OK || !found) return nullptr;
  return makeChild(found.get());
}

XmlNodeList MsXmlNode::selectNodes(const char* query, const char* scope) {
  XmlNodeList result(new XmlNodeVector);
  if (!node_) return result;
  std::string expression;
  if (scope) expression.append("//").append(scope);
  if (query) expression.append(query);

  Bstr text(expression.c_str());
  ComRef<IXMLDOMNodeList> nodes;
  if (FAILED(node_->selectNodes(text.get(), nodes.put())) || !nodes) return result;
  nodes->reset();
  for (;;) {
    ComRef<IXMLDOMNode> next;
    if (FAILED(nodes->nextNode(next.put())) || !next) break;
    result->push_back(XmlNodePtr(makeChild(next.get())));
  }
  return result;
}

IXmlNode* MsXmlNode::getChild(int32_t index) {
  ComRef<IXMLDOMNodeList> children;
  if (!node_ || FAILED(node_->get_childNodes(children.put())) || !children) return nullptr;
  ComRef<IXMLDOMNode> child;
  if (FAILED(children->get_item(index, child.put())) || !child) return nullptr;
  return makeChild(child.get());
}

namespace {

// 0 when the node was removed from its parent, 1 otherwise.
int32_t removeFromParent(IXMLDOMNode* node) {
  if (!node) return 1;
  ComRef<IXMLDOMNode> parent;
  if (FAILED(node->get_parentNode(parent.put())) || !parent) return 1;
  ComRef<IXMLDOMNode> removed;
  return SUCCEEDED(parent->removeChild(node, removed.put())) ? 0 : 1;
}

}  // namespace

int32_t MsXmlNode::detachNode(IXmlNode* node) {
  return removeFromParent(dynamic_cast<IXMLDOMNode*>(node));
}

int32_t MsXmlNode::detach() {
  return removeFromParent(node_);
}

IXmlNode* MsXmlNode::cloneNode() {
  ComRef<IXMLDOMNode> copy;
  if (!node_ || FAILED(node_->cloneNode(VARIANT_TRUE, copy.put())) || !copy) return nullptr;
  return new MsXmlNode(copy.get(), nullptr, nullptr);
}

XmlNodeList MsXmlNode::getChildren() {
  XmlNodeList result(new XmlNodeVector);
  ComRef<IXMLDOMNodeList> children;
  if (!node_ || FAILED(node_->get_childNodes(children.put())) || !children) return result;
  children->reset();
  for (;;) {
    ComRef<IXMLDOMNode> next;
    if (FAILED(children->nextNode(next.put())) || !next) break;
    result->push_back(XmlNodePtr(makeChild(next.get())));
  }
  return result;
}

IXmlNode* MsXmlNode::duplicate() {
  return new MsXmlNode(node_, getOwner(), getDocument());
}

std::string* MsXmlNode::getName(std::string* out) {
  Bstr name;
  if (!node_ || FAILED(node_->get_nodeName(name.put()))) return nullptr;
  return storeText(name.get(), out);
}

IXmlNode* MsXmlNode::findAttributeByValue(const char* value) {
  ComRef<IXMLDOMNamedNodeMap> attributes;
  if (!node_ || FAILED(node_->get_attributes(attributes.put())) || !attributes) return nullptr;
  Bstr wanted(value);
  attributes->reset();
  for (;;) {
    ComRef<IXMLDOMNode> attribute;
    if (FAILED(attributes->nextNode(attribute.put())) || !attribute) return nullptr;
    Variant current;
    if (FAILED(attribute->get_nodeValue(current.get())) || current.value().vt != VT_BSTR) continue;
    if (VarBstrCmp(current.value().bstrVal, wanted.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
      return makeChild(attribute.get());
    }
  }
}

std::string* MsXmlNode::getAttribute(const char* name) {
  ComRef<IXMLDOMNamedNodeMap> attributes;
  if (!node_ || FAILED(node_->get_attributes(attributes.put())) || !attributes) return nullptr;
  Bstr wanted(name);
  ComRef<IXMLDOMNode> attribute;
  const HRESULT hr = attributes->getNamedItem(wanted.get(), attribute.put());
  if (hr != S_OK || !attribute) return nullptr;
  Bstr text;
  if (FAILED(attribute->get_text(text.put()))) return nullptr;
  return storeText(text.get(), nullptr);
}

HRESULT MsXmlNode::appendChild(IXmlNode* child) {
  MsXmlNode* node = dynamic_cast<MsXmlNode*>(child);
  if (!node || !node_ || !node->node_) throw std::runtime_error(kAppendChildError);
  ComRef<IXMLDOMNode> appended;
  return node_->appendChild(node->node_, appended.put());
}

void MsXmlNode::setDocumentProperty(const char* name, const char* value) {
  ComRef<IXMLDOMDocument2> document;
  if (!node_ || FAILED(node_->QueryInterface(kIidXmlDomDocument2, document.putVoid())) ||
      !document) {
    return;
  }
  Bstr property(name);
  Variant text(value);
  document->setProperty(property.get(), *text.get());
}

std::string* MsXmlNode::getDocumentProperty(const char* name) {
  ComRef<IXMLDOMDocument2> document;
  if (!node_ || FAILED(node_->QueryInterface(kIidXmlDomDocument2, document.putVoid())) ||
      !document) {
    return nullptr;
  }
  Bstr property(name);
  Variant value;
  if (FAILED(document->getProperty(property.get(), value.get()))) return nullptr;
  if (value.value().vt != VT_BSTR &&
      FAILED(VariantChangeType(value.get(), value.get(), 0, VT_BSTR))) {
    return nullptr;
  }
  return storeText(value.value().bstrVal, nullptr);
}

}  // namespace ostra
