#pragma once
// Texts of a catalogue answer made fit to show: blurbs (HTML the server's editor left in them)
// and cover addresses (relative or protocol-relative ones the server passes through).

#include <string>
#include <string_view>

// Decodes HTML character references in UTF-8 text: the named references of HTML's common
// entities, decimal ("&#26469;") and hexadecimal ("&#x6765;") ones. Remnants of broken
// references are dropped: "&" with only blanks before ";" ("&     ;"), a reference cut off at the
// end of the text, a numeric reference naming no character. A known name without its ";"
// ("&nbsp" before other text) reads as its character. Any other "&" stays as it is.
std::string decodeHtmlEntities(std::string_view text);

// Removes HTML tags ("<p>", "</div>", "<br/>", "<!-- -->"): a "<" followed by a letter, "/" or
// "!" up to the next ">". Tags that break a line or a block leave a space. A "<" that opens no
// tag ("1 < 2") stays.
std::string stripHtmlTags(std::string_view text);

// The 简介 column: blurb, or when nothing of it remains, content (the full description); tags
// removed, references decoded, white space (ASCII, no-break, ideographic and the other Unicode
// spaces) collapsed to one space, dropped beside a Chinese, Japanese or Korean character or a
// full-width sign ("(Joy of Life 2)" and "Tom & Jerry" keep their spaces, "庆余年 第二季" loses
// its). "这个作者很懒, 暂无此剧简介" when nothing remains.
std::string blurbText(const std::string& blurb, const std::string& content = {});

// A cover address as the cover fetch needs it, absolute: "//host/x.jpg" takes the scheme of
// pageUrl (the address of the answer that named it), "/x.jpg" and "x.jpg" resolve against the
// root of pageUrl's host. An address with a scheme, and any address when pageUrl has none, stays
// as it is (spaces around it trimmed).
std::string resolveCoverUrl(const std::string& cover, const std::string& pageUrl);
