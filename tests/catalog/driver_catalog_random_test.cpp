// Random registries against a plain model of which drivers a scan lists, under which names, at
// which positions and with which class ids.

#include "catalog/catalog_fixture.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <random>

namespace {

enum class Server { Exists, Missing, Folder, NoServerKey, NoPath, PathTooLong };

struct ClassKeyPlan {
    std::string name;
    Server server;
};

struct DriverPlan {
    std::string subkey;
    std::optional<std::string> classText;
    std::optional<std::string> description;
};

// A class text the generator may use, with the class id it stands for (zero when it does not
// convert) and what creating that id gives.
struct ClassText {
    std::string text;
    ComGuid classId;
    std::int32_t creation; // 0: a fake driver is registered
};

struct Machine {
    bool hasAsioKey = true;
    bool hasClassesKey = true;
    std::vector<ClassText> texts;
    std::vector<DriverPlan> drivers;
    std::vector<ClassKeyPlan> classKeys;
};

struct ExpectedEntry {
    std::string name;
    const ClassText* classText;
};

class Generator {
public:
    explicit Generator(std::uint32_t seed)
        : m_random(seed) {}

    Machine machine() {
        Machine m;
        m.hasAsioKey = chance(97);
        m.hasClassesKey = chance(97);
        m.texts = classTexts();
        const int driverCount = chance(5) ? 0 : 1 + below(8);
        for (int i = 0; i < driverCount; ++i) {
            m.drivers.push_back(driver(m.texts));
        }
        for (const ClassText& text : m.texts) {
            for (int copies = chance(90) ? 1 + below(2) : 0; copies > 0; --copies) {
                m.classKeys.push_back({mixedCase(text.text), server()});
            }
        }
        m.classKeys.push_back({"{00000000-0000-0000-C000-000000000046}", Server::Exists});
        if (chance(3)) {
            m.classKeys.push_back({std::string(512, 'k'), Server::Exists});
        }
        std::shuffle(m.classKeys.begin(), m.classKeys.end(), m_random);
        return m;
    }

private:
    bool chance(int percent) { return below(100) < percent; }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    template <typename T>
    const T& pick(const std::vector<T>& from) {
        return from[static_cast<std::size_t>(below(static_cast<int>(from.size())))];
    }

    std::string mixedCase(std::string text) {
        for (char& c : text) {
            if (std::isalpha(static_cast<unsigned char>(c)) && chance(50)) {
                c = static_cast<char>(std::isupper(static_cast<unsigned char>(c))
                                          ? std::tolower(static_cast<unsigned char>(c))
                                          : std::toupper(static_cast<unsigned char>(c)));
            }
        }
        return text;
    }

    std::string letters(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += static_cast<char>((chance(50) ? 'a' : 'A') + below(26));
        }
        return text;
    }

    std::int32_t creation() {
        if (chance(80)) {
            return 0;
        }
        return chance(50) ? static_cast<std::int32_t>(0x80070005u) : platform::kCreationFailed;
    }

    std::vector<ClassText> classTexts() {
        std::vector<ClassText> texts;
        for (int i = 0; i < kConvertibleTexts; ++i) {
            ComGuid id{};
            id.data1 = static_cast<std::uint32_t>(m_random()) | 1u;
            id.data2 = static_cast<std::uint16_t>(m_random());
            id.data3 = static_cast<std::uint16_t>(m_random());
            for (std::uint8_t& byte : id.data4) {
                byte = static_cast<std::uint8_t>(m_random());
            }
            texts.push_back({platform::classIdText(id), id, creation()});
        }
        const ComGuid zero{};
        texts.push_back({platform::classIdText(zero), zero, platform::kClassNotRegistered});
        texts.push_back({"Vendor.Driver." + letters(3), zero, platform::kClassNotRegistered});
        texts.push_back(
            {"{" + letters(98 + below(150)) + "}", zero, platform::kClassNotRegistered});
        texts.push_back({letters(256 + below(40)), zero, platform::kClassNotRegistered});
        return texts;
    }

    DriverPlan driver(const std::vector<ClassText>& texts) {
        static const std::vector<std::string> names = {
            "Alpha", "beta", "GAMMA", "Delta Audio", "ASIO4 Echo", "Foxtrot", "golf", "Hotel 8"};
        DriverPlan d;
        const int nameKind = below(100);
        d.subkey = nameKind < 90   ? mixedCase(pick(names))
                   : nameKind < 95 ? letters(127)
                                   : letters(128 + below(100));
        if (chance(95)) {
            const auto& text = chance(70)
                                   ? texts[static_cast<std::size_t>(below(kConvertibleTexts))]
                                   : pick(texts);
            d.classText = mixedCase(text.text);
        }
        const int descriptionKind = below(100);
        if (descriptionKind < 40) {
            d.description = letters(1 + below(60));
        } else if (descriptionKind < 55) {
            d.description = letters(120 + below(136)); // around the cut at 127, all readable
        } else if (descriptionKind < 60) {
            d.description = letters(256 + below(40));
        }
        return d;
    }

    Server server() {
        const int kind = below(100);
        if (kind < 80) {
            return Server::Exists;
        }
        static const Server others[] = {Server::Missing, Server::Folder, Server::NoServerKey,
                                        Server::NoPath, Server::PathTooLong};
        return others[below(5)];
    }

    // The first texts of the pool are class ids of their own; the others stand for zero.
    static constexpr int kConvertibleTexts = 5;
    std::mt19937 m_random;
};

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return lowered(a) == lowered(b);
}

// Which drivers the scan should list, worked out from the machine's description alone.
std::vector<ExpectedEntry> expectedEntries(const Machine& m) {
    std::vector<ExpectedEntry> entries;
    if (!m.hasAsioKey) {
        return entries;
    }
    for (const DriverPlan& listed : m.drivers) {
        if (listed.subkey.size() > 127) {
            break; // its name cannot be read: the scan ends there
        }
        // Opening by name reaches the first subkey of that name.
        const DriverPlan& opened = *std::ranges::find_if(m.drivers, [&](const DriverPlan& d) {
            return sameIgnoringCase(d.subkey, listed.subkey);
        });
        if (!opened.classText || opened.classText->size() > 255 || !m.hasClassesKey) {
            continue;
        }
        std::optional<Server> server;
        for (const ClassKeyPlan& classKey : m.classKeys) {
            if (classKey.name.size() > 511) {
                break;
            }
            if (sameIgnoringCase(classKey.name, *opened.classText)) {
                server = classKey.server;
                break;
            }
        }
        if (server != Server::Exists) {
            continue;
        }
        const ClassText& text = *std::ranges::find_if(m.texts, [&](const ClassText& t) {
            return sameIgnoringCase(t.text, *opened.classText);
        });
        const bool describedReadably = opened.description && opened.description->size() <= 255;
        entries.push_back(
            {describedReadably ? opened.description->substr(0, 127) : listed.subkey, &text});
    }
    return entries;
}

class RandomMachine {
public:
    RandomMachine(const Machine& m, const ScratchFolder& scratch) {
        for (const ClassText& text : m.texts) {
            if (text.creation == 0) {
                FakeDriver& driver = m_drivers.emplace_back(text.classId);
                registry.registerClass(text.classId, [&driver] {
                    driver.AddRef();
                    return &driver;
                });
            } else if (text.creation != platform::kClassNotRegistered) {
                registry.failClass(text.classId, text.creation);
            }
        }
        if (m.hasAsioKey) {
            auto asio = registry.localMachine().createKey("software\\asio");
            for (const DriverPlan& d : m.drivers) {
                auto key = asio.appendKey(d.subkey);
                if (d.classText) {
                    key.setValue("clsid", *d.classText);
                }
                if (d.description) {
                    key.setValue("description", *d.description);
                }
            }
        }
        if (m.hasClassesKey) {
            auto classes = registry.classesRoot().createKey("clsid");
            const std::string file = scratch.makeFile("server.dll");
            for (const ClassKeyPlan& c : m.classKeys) {
                addServer(classes.appendKey(c.name), c.server, file, scratch);
            }
        }
    }

    const std::deque<FakeDriver>& drivers() const { return m_drivers; }

    platform::MemoryPlatform registry;

private:
    static void addServer(platform::MemoryKey classKey, Server server, const std::string& file,
                          const ScratchFolder& scratch) {
        if (server == Server::NoServerKey) {
            return;
        }
        auto inproc = classKey.createKey("InprocServer32").setValue("ThreadingModel", "Both");
        switch (server) {
        case Server::Exists:
            inproc.setValue("", file);
            break;
        case Server::Missing:
            inproc.setValue("", scratch.missing("gone.dll"));
            break;
        case Server::Folder:
            inproc.setValue("", scratch.folder());
            break;
        case Server::PathTooLong:
            inproc.setValue("", scratch.paddedPath("server.dll", 512));
            break;
        case Server::NoPath:
        case Server::NoServerKey:
            break;
        }
    }

    std::deque<FakeDriver> m_drivers;
};

TEST(DriverCatalogRandom, ListsWhatTheModelListsAndLeavesNothingBehind) {
    const ScratchFolder scratch;
    struct {
        int entries = 0;
        int zeroIds = 0;
        int cutNames = 0;
        int failedCreations = 0;
    } reached;
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Machine m = Generator(seed).machine();
        const std::vector<ExpectedEntry> expected = expectedEntries(m);
        RandomMachine machine(m, scratch);
        {
            const platform::ScopedPlatform installed(machine.registry);
            DriverCatalog catalog;
            ASSERT_EQ(catalog.GetCount(), static_cast<int>(expected.size()));
            for (const ExpectedEntry& entry : expected) {
                ++reached.entries;
                reached.zeroIds += platform::classIdText(entry.classText->classId) ==
                                   platform::classIdText(ComGuid{});
                reached.cutNames += entry.name.size() == 127;
                reached.failedCreations += entry.classText->creation != 0;
            }
            std::vector<std::string> names;
            for (const ExpectedEntry& entry : expected) {
                names.push_back(entry.name);
            }
            EXPECT_EQ(namesOf(catalog), names);

            for (int i = 0; i < catalog.GetCount(); ++i) {
                const ClassText& text = *expected[static_cast<std::size_t>(i)].classText;
                IASIO* driver = nullptr;
                const std::int32_t result = catalog.OpenDriver(i, &driver);
                EXPECT_EQ(result, text.creation) << "index " << i;
                if (result == 0) {
                    EXPECT_EQ(platform::classIdText(static_cast<FakeDriver*>(driver)->classId),
                              platform::classIdText(text.classId));
                    if (seed % 2 == 0) {
                        catalog.CloseDriver(i); // the rest stay open for the destructor
                    }
                }
            }
            IASIO* driver = nullptr;
            EXPECT_EQ(catalog.OpenDriver(catalog.GetCount(), &driver), CATALOG_NOT_FOUND);
            EXPECT_EQ(machine.registry.openKeyCount(), 0);
            EXPECT_EQ(machine.registry.comInitializeCount(), catalog.GetCount() != 0 ? 1 : 0);
        }
        EXPECT_EQ(machine.registry.comUninitializeCount(), expected.empty() ? 0 : 1);
        EXPECT_EQ(machine.registry.invalidCloseCount(), 0);
        for (const FakeDriver& driver : machine.drivers()) {
            EXPECT_EQ(driver.references, 0);
        }
    }
    // The generator must reach the interesting cases often, not produce mostly empty catalogs.
    EXPECT_GT(reached.entries, 600);
    EXPECT_GT(reached.zeroIds, 30);
    EXPECT_GT(reached.cutNames, 30);
    EXPECT_GT(reached.failedCreations, 30);
}

} // namespace
