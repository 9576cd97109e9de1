#include <windows.h>

#include <msxml2.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "gtest/gtest.h"
#include "xml/counted_ptr.h"
#include "xml/ms_xml_node.h"

namespace ostra {
namespace {

using Node = std::unique_ptr<IXmlNode>;
using Text = std::unique_ptr<std::string>;

// A file in a fresh temporary folder, removed with the fixture.
class TempFiles {
 public:
  TempFiles() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    dir_ = std::string(base) + "xmltest" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(counter_++);
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  ~TempFiles() {
    for (const std::string& f : files_) DeleteFileA(f.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    files_.push_back(path);
    return path;
  }
  std::string missing() const { return dir_ + "\\missing.xml"; }

 private:
  static inline int counter_ = 0;
  std::string dir_;
  std::vector<std::string> files_;
};

const char kCatalog[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<catalog>\n"
    "  <group name=\"a\">\n"
    "    <item id=\"1\" note=\"\">first</item>\n"
    "    <item id=\"2\">second</item>\n"
    "    <inner><item id=\"3\">nested</item></inner>\n"
    "  </group>\n"
    "  <item id=\"4\">outside</item>\n"
    "  <group name=\"b\"><item id=\"5\">fifth</item></group>\n"
    "  <empty/>\n"
    "  <word>\xE5\xB0\xB1\xE7\xBB\xAA Pr\xC3\xAAt</word>\n"
    "</catalog>\n";

class XmlNodeTest : public ::testing::Test {
 protected:
  void SetUp() override { doc_.reset(MsXmlNode::FromFile(files_.write("catalog.xml", kCatalog))); }

  // Texts of the nodes in a list, joined by commas.
  static std::string texts(const XmlNodeList& list) {
    std::string out;
    for (const XmlNodePtr& node : *list) {
      Text text(node->getText());
      if (!out.empty()) out += ",";
      out += text ? *text : "<null>";
    }
    return out;
  }

  TempFiles files_;
  Node doc_;
};

TEST_F(XmlNodeTest, SelectNodesFindsMatchesInDocumentOrderOrAnEmptyList) {
  XmlNodeList all = doc_->selectNodes(".//item");
  EXPECT_EQ("first,second,nested,outside,fifth", texts(all));

  XmlNodeList none = doc_->selectNodes(".//nothing");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST_F(XmlNodeTest, ScopeIsPrefixedWithTwoSlashesAndJoinedWithoutSeparator) {
  // "//group" + "/item": direct item children of every group, wherever it is.
  EXPECT_EQ("first,second,fifth", texts(doc_->selectNodes("/item", "group")));
  // "//group" + "//item": every item below a group.
  EXPECT_EQ("first,second,nested,fifth", texts(doc_->selectNodes("//item", "group")));
  // No separator is added: "//catalog" + "item" names no element.
  EXPECT_TRUE(doc_->selectNodes("item", "catalog")->empty());
}

TEST_F(XmlNodeTest, NodesKnowTheirOwnerAndDocument) {
  EXPECT_EQ(nullptr, doc_->getOwner());
  EXPECT_EQ(doc_.get(), doc_->getDocument());
  EXPECT_TRUE(doc_->isDocument());

  XmlNodeList groups = doc_->selectNodes(".//group");
  ASSERT_EQ(2u, groups->size());
  IXmlNode* group = (*groups)[0].get();
  EXPECT_EQ(doc_.get(), group->getOwner());
  EXPECT_EQ(doc_.get(), group->getDocument());

  XmlNodeList items = group->selectNodes("item");
  ASSERT_EQ(2u, items->size());
  EXPECT_EQ(group, (*items)[0]->getOwner());
  EXPECT_EQ(doc_.get(), (*items)[0]->getDocument());
  EXPECT_TRUE((*items)[0]->isElement());
  EXPECT_FALSE((*items)[0]->isAttribute());
  // Queries are relative to the node they are asked of.
  EXPECT_EQ("first,second,nested", texts(group->selectNodes(".//item")));

  Node clone(group->cloneNode());
  ASSERT_TRUE(clone);
  EXPECT_EQ(nullptr, clone->getOwner());
  EXPECT_EQ(clone.get(), clone->getDocument());

  Node copy(group->duplicate());
  EXPECT_EQ(doc_.get(), copy->getOwner());
  groups = XmlNodeList();  // the duplicate holds its own DOM reference
  EXPECT_EQ(3, copy->selectNodes(".//item")->size());
}

TEST_F(XmlNodeTest, TextsComeOutAsUtf8AndEmptyIsNotMissing) {
  Node word(doc_->selectSingleNode(".//word"));
  ASSERT_TRUE(word);
  Text text(word->getText());
  ASSERT_TRUE(text);
  EXPECT_EQ("\xE5\xB0\xB1\xE7\xBB\xAA Pr\xC3\xAAt", *text);
  EXPECT_EQ(7, word->getTextLength());  // UTF-16 code units, not bytes

  // A caller's string is cleared, filled and handed back.
  std::string mine = "left over";
  EXPECT_EQ(&mine, word->getName(&mine));
  EXPECT_EQ("word", mine);

  Node empty(doc_->selectSingleNode(".//empty"));
  Text none(empty->getText());
  ASSERT_TRUE(none);
  EXPECT_EQ("", *none);
  EXPECT_EQ(nullptr, doc_->selectSingleNode(".//nothing"));
}

TEST_F(XmlNodeTest, QueriesAreReadInTheThreadCodePage) {
  // "caf\u00e9" in the thread's ANSI code page, as a caller would pass it.
  const wchar_t wide[] = L"caf\u00e9";
  char narrow[16] = {};
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, &lossy);
  if (lossy) GTEST_SKIP() << "code page " << GetACP() << " has no e-acute";

  Node doc(MsXmlNode::FromFile(files_.write("cafe.xml", "<r><caf\xC3\xA9>x</caf\xC3\xA9></r>")));
  // The platform's default pattern language knows only ASCII names.
  doc->setDocumentProperty("SelectionLanguage", "XPath");
  XmlNodeList found = doc->selectNodes((std::string(".//") + narrow).c_str());
  ASSERT_EQ(1u, found->size());
  Text name((*found)[0]->getName());
  EXPECT_EQ("caf\xC3\xA9", *name);  // and the name comes back as UTF-8
}

TEST_F(XmlNodeTest, AttributesMissingEmptyAndFoundByValue) {
  Node item(doc_->selectSingleNode(".//item"));
  Text id(item->getAttribute("id"));
  ASSERT_TRUE(id);
  EXPECT_EQ("1", *id);
  Text note(item->getAttribute("note"));
  ASSERT_TRUE(note);
  EXPECT_EQ("", *note);
  EXPECT_EQ(nullptr, item->getAttribute("absent"));
  EXPECT_EQ(nullptr, doc_->getAttribute("id"));

  Node attribute(item->findAttributeByValue("1"));
  ASSERT_TRUE(attribute);
  EXPECT_TRUE(attribute->isAttribute());
  EXPECT_EQ(nullptr, item->findAttributeByValue("nope"));

  // Values can be set on attribute nodes only.
  EXPECT_EQ(E_INVALIDARG, item->setValue("x"));
  EXPECT_EQ(S_OK, attribute->setValue("42"));
  id.reset(item->getAttribute("id"));
  EXPECT_EQ("42", *id);

  EXPECT_EQ(nullptr, item->toElement());
  EXPECT_EQ(nullptr, attribute->toAttribute());
}

TEST_F(XmlNodeTest, ChildrenAreCountedListedAndDetached) {
  Node group(doc_->selectSingleNode(".//group"));
  XmlNodeList children = group->getChildren();
  EXPECT_EQ(group->getChildCount(), static_cast<int32_t>(children->size()));
  Node last(group->getChild(group->getChildCount() - 1));
  ASSERT_TRUE(last);
  EXPECT_EQ(nullptr, group->getChild(group->getChildCount()));
  EXPECT_EQ(nullptr, group->getChild(-1));

  Node inner(group->selectSingleNode("inner"));
  EXPECT_EQ(0, inner->detach());
  EXPECT_EQ("first,second", texts(group->selectNodes(".//item")));
  EXPECT_EQ(1, inner->detach());  // no parent any more
  // Wrapper nodes are not DOM nodes.
  Node item(doc_->selectSingleNode(".//item"));
  EXPECT_EQ(1, group->detachNode(item.get()));
  EXPECT_EQ(1, group->detachNode(nullptr));
  EXPECT_EQ(2u, group->selectNodes("item")->size());
}

TEST_F(XmlNodeTest, AppendChildRejectsBadChildrenAndPassesDomResults) {
  Node group(doc_->selectSingleNode(".//group"));
  try {
    group->appendChild(nullptr);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("MsXmlElement::appendChild : Invalid Parameter!\n", e.what());
  }
  MsXmlNode hollow(nullptr, nullptr, nullptr);
  EXPECT_THROW(group->appendChild(&hollow), std::runtime_error);
  EXPECT_THROW(hollow.appendChild(group.get()), std::runtime_error);

  Node outside(doc_->selectSingleNode("/catalog/item"));
  Node copy(outside->cloneNode());
  EXPECT_EQ(S_OK, group->appendChild(copy.get()));
  EXPECT_EQ("first,second,outside", texts(group->selectNodes("item")));

  // A document cannot become a child: the DOM's refusal is the result.
  EXPECT_TRUE(FAILED(group->appendChild(doc_.get())));
  // A node of another document goes to the DOM as it is, which takes it.
  Node other(MsXmlNode::FromFile(files_.write("other.xml", "<other>o</other>")));
  Node foreign(other->selectSingleNode("other"));
  EXPECT_EQ(S_OK, group->appendChild(foreign.get()));
  Node moved(group->selectSingleNode("other"));
  ASSERT_TRUE(moved);
}

TEST_F(XmlNodeTest, TextAndDocumentPropertiesRoundTrip) {
  Node word(doc_->selectSingleNode(".//word"));
  EXPECT_EQ(S_OK, word->setText("plain"));
  Text text(word->getText());
  EXPECT_EQ("plain", *text);

  doc_->setDocumentProperty("SelectionLanguage", "XPath");
  Text language(doc_->getDocumentProperty("SelectionLanguage"));
  ASSERT_TRUE(language);
  EXPECT_EQ("XPath", *language);
  EXPECT_EQ(nullptr, word->getDocumentProperty("SelectionLanguage"));
}

TEST(MsXmlNodeDocument, InstantiateGivesADocumentWithItsDeclaration) {
  Node doc(MsXmlNode::Instantiate());
  ASSERT_EQ(1, doc->getChildCount());
  Node declaration(doc->getChild(0));
  EXPECT_EQ(kXmlNodeProcessingInstruction, declaration->getNodeType());
  Text name(declaration->getName());
  EXPECT_EQ("xml", *name);
  Text data(declaration->getText());
  EXPECT_EQ("version=\"1.0\" encoding=\"UTF-8\"", *data);

  // A loaded file replaces it.
  TempFiles files;
  doc.reset(MsXmlNode::FromFile(files.write("one.xml", "<one/>")));
  ASSERT_EQ(1, doc->getChildCount());
  EXPECT_EQ(kXmlNodeElement, Node(doc->getChild(0))->getNodeType());
}

// Reference count of a COM object, read without changing it.
ULONG referencesOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(MsXmlNodeDocument, FailedLoadsThrowAndLeaveNothingBehind) {
  TempFiles files;
  const std::string malformed = files.write("bad.xml", "<open><unclosed></open>");
  const std::string binary = files.write("bin.xml", std::string("\xFF\xFE\x00<", 4));
  Node holder(MsXmlNode::Instantiate());
  auto* document = dynamic_cast<MsXmlNode*>(holder.get())->domNode();
  IXMLDOMDocument* existing = nullptr;
  ASSERT_EQ(S_OK,
            document->QueryInterface(IID_IXMLDOMDocument, reinterpret_cast<void**>(&existing)));
  const ULONG before = referencesOf(existing);

  for (const std::string& path : {files.missing(), malformed, binary}) {
    SCOPED_TRACE(path);
    try {
      delete MsXmlNode::FromFile(path);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ("[MsXmlNode] FromFile - load failed", e.what());
    }
    // The half-made node around a caller's document is deleted, so its COM
    // reference is gone again.
    EXPECT_THROW(MsXmlNode::FromFile(path, existing), std::runtime_error);
    EXPECT_EQ(before, referencesOf(existing));
  }
  existing->Release();
}

// A file beside the program may come from anyone: a document type that
// declares entities (which could pull a local file into a text, or expand
// without end) is refused before the DOM sees it, whatever the DOM would do.
TEST(MsXmlNodeDocument, DocumentTypesThatDeclareEntitiesAreRefused) {
  TempFiles files;
  const std::string secret = files.write("secret.txt", "password");
  std::string utf16;
  for (char c : std::string("<!DOCTYPE r [<!ENTITY x \"y\">]><r>&x;</r>")) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  const struct {
    const char* name;
    std::string content;
  } refused[] = {
      {"internal.xml", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x \"injected\">]><r>&x;</r>"},
      {"external.xml", "<!DOCTYPE r [<!ENTITY s SYSTEM \"file:///" + secret + "\">]><r>&s;</r>"},
      {"parameter.xml", "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY q 'z'>\"> %p;]><r>&q;</r>"},
      {"utf16.xml", std::string("\xFF\xFE", 2) + utf16},
      // The markers straddle the pieces the file is read in.
      {"long.xml", "<!--" + std::string(65530, '-') + "--><!DOCTYPE r [" + std::string(65531, ' ') +
                       "<!ENTITY x \"y\">]><r>&x;</r>"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    try {
      delete MsXmlNode::FromFile(files.write(c.name, c.content));
      ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ("[MsXmlNode] FromFile - refused: the document type declares entities", e.what());
    }
  }
  // Entities in a comment or a text, without a document type, are only text.
  Node plain(MsXmlNode::FromFile(
      files.write("plain.xml", "<r><!-- <!ENTITY x \"y\"> --><t>&lt;!ENTITY</t></r>")));
  Text text(Node(plain->selectSingleNode("//t"))->getText());
  EXPECT_EQ("<!ENTITY", *text);
}

// Counts how many of its kind are alive.
struct Tracked {
  static inline int alive = 0;
  Tracked() { ++alive; }
  ~Tracked() { --alive; }
};

TEST(CountedPtr, LastReleaseDeletesTheObjectOnce) {
  {
    counted_ptr<Tracked> first(new Tracked);
    EXPECT_EQ(1, first.use_count());
    {
      counted_ptr<Tracked> second = first;
      counted_ptr<Tracked> third;
      third = second;
      EXPECT_EQ(3, first.use_count());
      third = counted_ptr<Tracked>();  // drops one reference
      EXPECT_EQ(2, first.use_count());
    }
    EXPECT_EQ(1, Tracked::alive);
    counted_ptr<Tracked> moved = std::move(first);
    EXPECT_EQ(1, moved.use_count());
  }
  EXPECT_EQ(0, Tracked::alive);

  counted_ptr<Tracked> empty;
  EXPECT_FALSE(empty);
  EXPECT_EQ(1, empty.use_count());
}

}  // namespace
}  // namespace ostra
