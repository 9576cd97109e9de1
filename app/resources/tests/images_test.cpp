// Bitmaps, the program icon and the manifest as stored in the resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/resources/tests/resource_reader.h"

namespace {

constexpr LANGID kEnglishUs = 0x0409;

HMODULE self() {
  return GetModuleHandleW(nullptr);
}

struct ExpectedBitmap {
  WORD id;
  LONG width;
  LONG height;
  WORD bits;
};

const ExpectedBitmap kBitmaps[] = {
    {116, 20, 20, 24},     {309, 40, 36, 24},     {314, 40, 36, 24},
    {10001, 500, 150, 16}, {10002, 500, 150, 16}, {10003, 422, 150, 24},
    {10004, 422, 150, 24}, {10005, 500, 101, 24}, {10006, 500, 101, 24},
};

BITMAPINFOHEADER header(const std::vector<uint8_t>& raw) {
  BITMAPINFOHEADER h = {};
  if (raw.size() >= sizeof h) std::memcpy(&h, raw.data(), sizeof h);
  return h;
}

size_t rowBytes(LONG width, WORD bits) {
  return ((width * bits + 31) / 32) * 4;
}

TEST(Bitmaps, UncompressedWithoutColourTableAtTheirSizes) {
  for (const ExpectedBitmap& want : kBitmaps) {
    SCOPED_TRACE(want.id);
    EXPECT_EQ(resources_test::resourceLanguages(self(), RT_BITMAP, want.id),
              std::vector<LANGID>{kEnglishUs});
    const auto raw = resources_test::rawResource(self(), RT_BITMAP, want.id, kEnglishUs);
    ASSERT_TRUE(raw);
    const BITMAPINFOHEADER h = header(*raw);
    EXPECT_EQ(h.biSize, sizeof h);
    EXPECT_EQ(h.biWidth, want.width);
    EXPECT_EQ(h.biHeight, want.height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, want.bits);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(h.biClrUsed, 0u);
    // Pixels follow the header directly: no colour table in between.
    EXPECT_EQ(raw->size(), sizeof h + rowBytes(want.width, want.bits) * want.height);
  }
}

TEST(Bitmaps, LoadThroughThePlatformAtTheirSizes) {
  for (const ExpectedBitmap& want : kBitmaps) {
    SCOPED_TRACE(want.id);
    HANDLE image =
        LoadImageW(self(), MAKEINTRESOURCEW(want.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_TRUE(image);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectW(image, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, want.width);
    EXPECT_EQ(info.bmHeight, want.height);
    EXPECT_EQ(info.bmBitsPixel, want.bits);
    DeleteObject(image);
  }
}

// Counts the pixels of a 24-bit bitmap resource that satisfy a predicate.
template <typename Predicate>
int countPixels(WORD id, Predicate predicate) {
  const auto raw = resources_test::rawResource(self(), RT_BITMAP, id, kEnglishUs);
  if (!raw) return -1;
  const BITMAPINFOHEADER h = header(*raw);
  if (h.biBitCount != 24) return -1;
  const size_t stride = rowBytes(h.biWidth, 24);
  int count = 0;
  for (LONG y = 0; y < h.biHeight; ++y) {
    for (LONG x = 0; x < h.biWidth; ++x) {
      const size_t at = sizeof h + y * stride + x * 3;
      if (at + 3 > raw->size()) return -1;
      const int b = (*raw)[at], g = (*raw)[at + 1], r = (*raw)[at + 2];
      count += predicate(r, g, b) ? 1 : 0;
    }
  }
  return count;
}

// The status icons must tell warnings from errors at a glance: mostly
// yellow for the warning, mostly red for the error, a dark disc with a
// light mark for the check.
TEST(Bitmaps, StatusIconsCarryTheirColours) {
  auto yellow = [](int r, int g, int b) { return r > 200 && g > 150 && b < 80; };
  auto red = [](int r, int g, int b) { return r > 150 && g < 80 && b < 80; };
  auto dark = [](int r, int g, int b) { return r + g + b < 90; };
  auto white = [](int r, int g, int b) { return r > 220 && g > 220 && b > 220; };
  EXPECT_GT(countPixels(309, yellow), 40 * 36 / 6);
  EXPECT_EQ(countPixels(309, red), 0);
  EXPECT_GT(countPixels(314, red), 40 * 36 / 6);
  EXPECT_EQ(countPixels(314, yellow), 0);
  EXPECT_GT(countPixels(116, dark), 20 * 20 / 3);
  EXPECT_GT(countPixels(116, white), 10);
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST(ProgramIcon, GroupHoldsA16And48PixelImageAt24Bits) {
  const auto group = resources_test::rawResource(self(), RT_GROUP_ICON, 200, kEnglishUs);
  ASSERT_TRUE(group);
  ASSERT_GE(group->size(), sizeof(GroupIconHeader));
  GroupIconHeader head;
  std::memcpy(&head, group->data(), sizeof head);
  EXPECT_EQ(head.type, 1);
  ASSERT_EQ(head.count, 2);
  ASSERT_EQ(group->size(), sizeof head + head.count * sizeof(GroupIconEntry));
  std::vector<int> sizes;
  for (WORD i = 0; i < head.count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group->data() + sizeof head + i * sizeof entry, sizeof entry);
    SCOPED_TRACE(entry.width);
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(entry.bitCount, 24);
    sizes.push_back(entry.width);
    const auto image = resources_test::rawResource(self(), RT_ICON, entry.id, kEnglishUs);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), entry.bytesInRes);
    const BITMAPINFOHEADER h = header(*image);
    EXPECT_EQ(h.biWidth, entry.width);
    EXPECT_EQ(h.biHeight, entry.height * 2);  // colour and mask
    EXPECT_EQ(h.biBitCount, 24);
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 48}));
}

TEST(ProgramIcon, LoadsAtBothSizes) {
  for (int size : {16, 48}) {
    SCOPED_TRACE(size);
    HANDLE icon = LoadImageW(self(), MAKEINTRESOURCEW(200), IMAGE_ICON, size, size, 0);
    ASSERT_TRUE(icon);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP colour = {};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
  }
}

TEST(Manifest, RequestsAsInvokerOnlyAndNoDependency) {
  const auto raw = resources_test::rawResource(self(), RT_MANIFEST, 1, kEnglishUs);
  ASSERT_TRUE(raw);
  const std::string text(raw->begin(), raw->end());
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_EQ(text.find("<dependency"), std::string::npos);
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
}

}  // namespace
