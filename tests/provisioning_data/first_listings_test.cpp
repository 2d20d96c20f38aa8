#include "provisioning_data/first_listings.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Listing {
    std::uint64_t key = 0;
    std::size_t line = 0;
};

struct ListingsCase {
    std::string name;
    std::function<std::vector<Listing>()> listings;
};

// The listings, then each of them again in the reverse order, so that every
// key is asked for once more wherever it came to rest.
std::vector<Listing> then_again(std::vector<Listing> listings) {
    const std::size_t first = listings.size();
    std::size_t line = listings.empty() ? 1 : listings.back().line + 1;
    for (std::size_t i = first; i > 0; --i) {
        listings.push_back({listings[i - 1].key, line++});
    }
    return listings;
}

std::vector<Listing> evenly(std::uint64_t firstKey, std::uint64_t keyStep, std::size_t lineStep,
                            std::size_t count) {
    std::vector<Listing> listings;
    for (std::size_t i = 0; i < count; ++i) {
        listings.push_back({firstKey + keyStep * i, 1 + lineStep * i});
    }
    return listings;
}

} // namespace

// Whatever the order and spacing of keys and lines, each key's first line is
// the one given back, as a plain map of every listing has it.
TEST(FirstListings, GivesEachRepeatedKeyTheLineOfItsFirstListing) {
    const std::vector<ListingsCase> cases = {
        {"ascending neighbours seven lines apart",
         [] { return then_again(evenly(0, 1, 7, 5000)); }},
        {"ascending keys and lines at the largest step a chunk keeps",
         [] { return then_again(evenly(5, 65535, 32767, 3000)); }},
        {"ascending keys one past it", [] { return then_again(evenly(5, 65536, 1, 3000)); }},
        {"ascending lines one past it", [] { return then_again(evenly(5, 1, 32768, 3000)); }},
        {"lines falling by the largest step a chunk keeps, and by one more",
         [] {
             std::vector<Listing> listings;
             std::size_t line = std::size_t{1} << 40;
             for (std::uint64_t key = 0; key < 2000; ++key) {
                 listings.push_back({key, line});
                 line -= key % 2 == 0 ? std::size_t{32768} : std::size_t{32769};
             }
             return then_again(listings);
         }},
        {"descending keys, merged as they wait",
         [] {
             std::vector<Listing> listings = evenly(0, 3, 2, 6000);
             for (Listing& listing : listings) {
                 listing.key = 20000 - listing.key;
             }
             return then_again(listings);
         }},
        {"random keys in a small space, lines at random distances",
         [] {
             std::mt19937_64 random(7);
             std::vector<Listing> listings;
             std::size_t line = 1;
             for (int i = 0; i < 20000; ++i) {
                 line += random() % 3 == 0 ? random() % 100000 : 1 + random() % 8;
                 listings.push_back({random() % 9000, line});
             }
             return listings;
         }},
        {"keys at both ends of their range, and a line past 32 bits",
         [] {
             constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
             const std::size_t far = std::size_t{1} << 40;
             return then_again({{kTop - 1, 1}, {kTop, 2}, {0, 3}, {1, far}, {kTop - 2, far + 1}});
         }},
    };
    for (const ListingsCase& c : cases) {
        FirstListings listings;
        std::map<std::uint64_t, std::size_t> first;
        EXPECT_TRUE(listings.empty()) << c.name;
        for (const Listing& listing : c.listings()) {
            const auto [known, isFirst] = first.try_emplace(listing.key, listing.line);
            const std::optional<std::size_t> expected =
                isFirst ? std::nullopt : std::optional<std::size_t>(known->second);
            ASSERT_EQ(listings.list(listing.key, listing.line), expected)
                << c.name << ": key " << listing.key << " at line " << listing.line;
        }
        EXPECT_FALSE(listings.empty()) << c.name;
    }
}
