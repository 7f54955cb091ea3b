#include "tools/sfxpack/dsa_key.h"

#include <cryptopp/aes.h>
#include <cryptopp/asn.h>
#include <cryptopp/filters.h>
#include <cryptopp/gfpcrypt.h>
#include <cryptopp/integer.h>
#include <cryptopp/nbtheory.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/queue.h>
#include <cryptopp/sha.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sfxpack {

namespace {

using CryptoPP::Integer;

constexpr unsigned kPBits = 1024;
constexpr unsigned kQBits = 160;

// A key the file does not hold in a form we take; `what` is the reason for the message.
struct KeyRefused {
  std::string what;
};

struct DsaNumbers {
  Integer p, q, g, y, x;
  bool hasY = false;
  bool hasX = false;
};

CryptoPP::OID DsaOid() { return CryptoPP::OID(1) + 2 + 840 + 10040 + 4 + 1; }

std::string OidText(const CryptoPP::OID& oid) {
  std::string text;
  for (CryptoPP::word32 v : oid.GetValues()) text += (text.empty() ? "" : ".") + std::to_string(v);
  if (text == "1.2.840.113549.1.1.1") return "an RSA key";
  if (text == "1.2.840.10045.2.1") return "an EC key";
  if (text == "1.3.101.112" || text == "1.3.101.113") return "an EdDSA key";
  return "a key of algorithm " + text;
}

// --- PEM -----------------------------------------------------------------------------------

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Lines(const std::vector<uint8_t>& data) {
  std::string out, line;
  for (size_t i = 0; i < data.size(); i += 3) {
    const uint32_t n = (uint32_t{data[i]} << 16) |
                       (i + 1 < data.size() ? uint32_t{data[i + 1]} << 8 : 0) |
                       (i + 2 < data.size() ? uint32_t{data[i + 2]} : 0);
    line += kBase64[(n >> 18) & 63];
    line += kBase64[(n >> 12) & 63];
    line += i + 1 < data.size() ? kBase64[(n >> 6) & 63] : '=';
    line += i + 2 < data.size() ? kBase64[n & 63] : '=';
    if (line.size() == 64) out += line + "\n", line.clear();
  }
  if (!line.empty()) out += line + "\n";
  return out;
}

// Strict decoding: whitespace is skipped, anything else outside the alphabet refuses.
bool DecodeBase64(const std::string& text, std::vector<uint8_t>* out) {
  uint32_t bits = 0;
  int count = 0, padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const char* at = std::strchr(kBase64, c);
    if (c == '\0' || !at || padding) return false;
    bits = (bits << 6) | static_cast<uint32_t>(at - kBase64);
    if (++count == 4) {
      out->push_back(static_cast<uint8_t>(bits >> 16));
      out->push_back(static_cast<uint8_t>(bits >> 8));
      out->push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) out->push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out->push_back(static_cast<uint8_t>(bits >> 10));
    out->push_back(static_cast<uint8_t>(bits >> 2));
  }
  return !out->empty();
}

// The DER bytes of the file and the PEM label they came under ("" for a DER file). Parameter
// blocks ("DSA PARAMETERS", as openssl dsaparam -genkey writes before the key) are passed over.
void Unarmor(const std::vector<uint8_t>& contents, std::vector<uint8_t>* der, std::string* label) {
  const std::string text(contents.begin(), contents.end());
  const std::string begin = "-----BEGIN ";
  size_t at = text.find(begin);
  if (at == std::string::npos) {
    if (contents.empty() || contents[0] != 0x30) throw KeyRefused{"not a PEM or DER key file"};
    *der = contents;
    label->clear();
    return;
  }
  for (; at != std::string::npos; at = text.find(begin, at + 1)) {
    const size_t labelStart = at + begin.size();
    const size_t labelEnd = text.find("-----", labelStart);
    if (labelEnd == std::string::npos) break;
    *label = text.substr(labelStart, labelEnd - labelStart);
    if (*label == "DSA PARAMETERS") continue;
    const std::string end = "-----END " + *label + "-----";
    const size_t bodyEnd = text.find(end, labelEnd);
    if (bodyEnd == std::string::npos) throw KeyRefused{"PEM block '" + *label + "' has no END line"};
    std::string body = text.substr(labelEnd + 5, bodyEnd - labelEnd - 5);
    // PKCS#8 "ENCRYPTED PRIVATE KEY" is decrypted later; the traditional form's encryption
    // (OpenSSL's own key derivation, "Proc-Type: 4,ENCRYPTED") is not supported.
    if (*label != "ENCRYPTED PRIVATE KEY" && body.find("ENCRYPTED") != std::string::npos) {
      throw KeyRefused{"traditional encrypted keys are not supported (convert it to PKCS#8 with "
                       "openssl pkcs8 -topk8 -v2 aes256)"};
    }
    if (body.find(':') != std::string::npos) throw KeyRefused{"unexpected PEM headers"};
    if (!DecodeBase64(body, der)) throw KeyRefused{"PEM block '" + *label + "' is not valid base64"};
    return;
  }
  throw KeyRefused{"no key found in the PEM file"};
}

// --- DER -----------------------------------------------------------------------------------

// AlgorithmIdentifier { id-dsa, Dss-Parms { p, q, g } }
void DecodeAlgorithm(CryptoPP::BufferedTransformation& in, DsaNumbers* n) {
  CryptoPP::BERSequenceDecoder algorithm(in);
  CryptoPP::OID oid;
  oid.BERDecode(algorithm);
  if (!(oid == DsaOid())) throw KeyRefused{"not a DSA key: it is " + OidText(oid)};
  CryptoPP::BERSequenceDecoder params(algorithm);
  n->p.BERDecode(params);
  n->q.BERDecode(params);
  n->g.BERDecode(params);
  params.MessageEnd();
  algorithm.MessageEnd();
}

// SubjectPublicKeyInfo, PKCS#8 PrivateKeyInfo or the traditional OpenSSL DSA private key.
DsaNumbers DecodeDer(const std::vector<uint8_t>& der) {
  DsaNumbers n;
  CryptoPP::ByteQueue queue;
  queue.Put(der.data(), der.size());
  CryptoPP::BERSequenceDecoder outer(queue);
  CryptoPP::byte tag = 0;
  if (!outer.Peek(tag)) throw KeyRefused{"empty key structure"};
  if (tag == (CryptoPP::SEQUENCE | CryptoPP::CONSTRUCTED)) {
    DecodeAlgorithm(outer, &n);
    CryptoPP::BERGeneralDecoder bits(outer, CryptoPP::BIT_STRING);
    CryptoPP::byte unusedBits = 0;
    if (!bits.Get(unusedBits) || unusedBits != 0) throw KeyRefused{"malformed public key bits"};
    n.y.BERDecode(bits);
    bits.MessageEnd();
    n.hasY = true;
  } else {
    Integer version;
    version.BERDecode(outer);
    if (!outer.Peek(tag)) throw KeyRefused{"truncated private key"};
    if (tag == (CryptoPP::SEQUENCE | CryptoPP::CONSTRUCTED)) {
      DecodeAlgorithm(outer, &n);
      CryptoPP::BERGeneralDecoder octets(outer, CryptoPP::OCTET_STRING);
      n.x.BERDecode(octets);
      octets.MessageEnd();
      outer.SkipAll();  // optional attributes and public key
    } else {
      if (!version.IsZero()) throw KeyRefused{"not a DSA private key"};
      n.p.BERDecode(outer);
      n.q.BERDecode(outer);
      n.g.BERDecode(outer);
      n.y.BERDecode(outer);
      n.x.BERDecode(outer);
      n.hasY = true;
    }
    n.hasX = true;
  }
  outer.MessageEnd();
  return n;
}

// Sizes first (the message the author most needs), then the consistency of the numbers.
void CheckNumbers(DsaNumbers* n) {
  if (n->p.IsNegative() || n->q.IsNegative() || n->p.BitCount() != kPBits ||
      n->q.BitCount() != kQBits) {
    throw KeyRefused{"the key has a " + std::to_string(n->p.BitCount()) + "-bit p and a " +
                     std::to_string(n->q.BitCount()) +
                     "-bit q; packages need a DSA key with a 1024-bit p and a 160-bit q"};
  }
  const Integer one = Integer::One();
  if (!CryptoPP::IsPrime(n->q) || !CryptoPP::IsPrime(n->p) || !((n->p - one) % n->q).IsZero() ||
      n->g <= one || n->g >= n->p || a_exp_b_mod_c(n->g, n->q, n->p) != one) {
    throw KeyRefused{"the DSA domain parameters (p, q, g) are not valid"};
  }
  if (n->hasX) {
    if (n->x <= Integer::Zero() || n->x >= n->q) throw KeyRefused{"the private value x is out of range"};
    const Integer y = a_exp_b_mod_c(n->g, n->x, n->p);
    if (n->hasY && n->y != y) throw KeyRefused{"the public value y does not match the private key"};
    n->y = y;
    n->hasY = true;
  }
  if (n->y <= one || n->y >= n->p || a_exp_b_mod_c(n->y, n->q, n->p) != one) {
    throw KeyRefused{"the public value y is not valid"};
  }
}

// PBES2 (RFC 8018) as OpenSSL writes it: PBKDF2 with HMAC-SHA-1 or HMAC-SHA-256, then AES-128,
// -192 or -256 in CBC mode. Gives the PrivateKeyInfo inside an EncryptedPrivateKeyInfo.
std::vector<uint8_t> DecryptPkcs8(const std::vector<uint8_t>& der, const std::string& passphrase) {
  const CryptoPP::OID pkcs5 = CryptoPP::OID(1) + 2 + 840 + 113549 + 1 + 5;
  const CryptoPP::OID hmacSha1 = CryptoPP::OID(1) + 2 + 840 + 113549 + 2 + 7;
  const CryptoPP::OID hmacSha256 = CryptoPP::OID(1) + 2 + 840 + 113549 + 2 + 9;
  const CryptoPP::OID aes = CryptoPP::OID(2) + 16 + 840 + 1 + 101 + 3 + 4 + 1;
  CryptoPP::SecByteBlock salt, iv, keyBytes;
  CryptoPP::SecByteBlock encrypted;
  CryptoPP::word32 iterations = 0;
  bool sha256 = false;
  size_t keyLength = 0;
  try {
    CryptoPP::StringSource source(der.data(), der.size(), true);
    CryptoPP::BERSequenceDecoder info(source);
    CryptoPP::BERSequenceDecoder algorithm(info);
    CryptoPP::OID oid;
    oid.BERDecode(algorithm);
    if (!(oid == pkcs5 + 13)) throw KeyRefused{"encrypted with " + OidText(oid) + ", not PBES2"};
    CryptoPP::BERSequenceDecoder params(algorithm);
    {
      CryptoPP::BERSequenceDecoder kdf(params);
      oid.BERDecode(kdf);
      if (!(oid == pkcs5 + 12)) throw KeyRefused{"key derivation " + OidText(oid) + ", not PBKDF2"};
      CryptoPP::BERSequenceDecoder kdfParams(kdf);
      CryptoPP::BERDecodeOctetString(kdfParams, salt);
      CryptoPP::BERDecodeUnsigned<CryptoPP::word32>(kdfParams, iterations, CryptoPP::INTEGER, 1, 100000000);
      if (!kdfParams.EndReached() && kdfParams.PeekByte() == CryptoPP::INTEGER) {
        CryptoPP::word32 length = 0;
        CryptoPP::BERDecodeUnsigned<CryptoPP::word32>(kdfParams, length, CryptoPP::INTEGER, 1, 64);
      }
      if (!kdfParams.EndReached()) {
        CryptoPP::BERSequenceDecoder prf(kdfParams);
        oid.BERDecode(prf);
        if (oid == hmacSha256) {
          sha256 = true;
        } else if (!(oid == hmacSha1)) {
          throw KeyRefused{"key derivation with " + OidText(oid) + " (HMAC-SHA-1 or -256 only)"};
        }
        prf.SkipAll();
      }
      kdfParams.MessageEnd();
      kdf.MessageEnd();
    }
    {
      CryptoPP::BERSequenceDecoder scheme(params);
      oid.BERDecode(scheme);
      if (oid == aes + 2) keyLength = 16;
      if (oid == aes + 22) keyLength = 24;
      if (oid == aes + 42) keyLength = 32;
      if (!keyLength) throw KeyRefused{"encrypted with " + OidText(oid) + " (AES-CBC only)"};
      CryptoPP::BERDecodeOctetString(scheme, iv);
      scheme.MessageEnd();
    }
    params.MessageEnd();
    algorithm.MessageEnd();
    CryptoPP::BERDecodeOctetString(info, encrypted);
    info.MessageEnd();
  } catch (const CryptoPP::Exception&) {
    throw KeyRefused{"not a valid encrypted PKCS#8 key"};
  }
  if (iv.size() != CryptoPP::AES::BLOCKSIZE) throw KeyRefused{"the encrypted key's IV is not 16 bytes"};
  keyBytes.resize(keyLength);
  const uint8_t* pass = reinterpret_cast<const uint8_t*>(passphrase.data());
  if (sha256) {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256>().DeriveKey(
        keyBytes, keyBytes.size(), 0, pass, passphrase.size(), salt, salt.size(), iterations);
  } else {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA1>().DeriveKey(
        keyBytes, keyBytes.size(), 0, pass, passphrase.size(), salt, salt.size(), iterations);
  }
  std::string plain;
  try {
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption decryption(keyBytes, keyBytes.size(), iv);
    CryptoPP::StringSource(encrypted.data(), encrypted.size(), true,
                           new CryptoPP::StreamTransformationFilter(decryption, new CryptoPP::StringSink(plain)));
  } catch (const CryptoPP::Exception&) {
    throw KeyRefused{"cannot decrypt the key: wrong passphrase?"};
  }
  if (plain.empty() || static_cast<uint8_t>(plain[0]) != 0x30) {
    throw KeyRefused{"cannot decrypt the key: wrong passphrase?"};
  }
  return std::vector<uint8_t>(plain.begin(), plain.end());
}

DsaNumbers ParseKey(const std::vector<uint8_t>& contents, const std::string* passphrase = nullptr) {
  std::vector<uint8_t> der;
  std::string label;
  Unarmor(contents, &der, &label);
  if (label == "ENCRYPTED PRIVATE KEY") {
    if (!passphrase) throw KeyRefused{"an encrypted key: give its passphrase with --key-pass-file FILE"};
    der = DecryptPkcs8(der, *passphrase);
    label = "PRIVATE KEY";
  }
  if (!label.empty() && label != "PUBLIC KEY" && label != "PRIVATE KEY" && label != "DSA PRIVATE KEY") {
    if (label.find("RSA") != std::string::npos || label.find("EC ") == 0) {
      throw KeyRefused{"not a DSA key (PEM block '" + label + "')"};
    }
    throw KeyRefused{"unexpected PEM block '" + label + "'"};
  }
  DsaNumbers n;
  try {
    n = DecodeDer(der);
  } catch (const CryptoPP::Exception&) {
    throw KeyRefused{"not a valid DER key structure"};
  }
  CheckNumbers(&n);
  return n;
}

void ToPublic(const DsaNumbers& n, sfx::DsaPublicKey* key) {
  n.p.Encode(key->p, sizeof(key->p));
  n.q.Encode(key->q, sizeof(key->q));
  n.g.Encode(key->g, sizeof(key->g));
  n.y.Encode(key->y, sizeof(key->y));
}

// Key files are a few kilobytes; anything much larger is not a key (a package given by mistake),
// and anything but a regular file (a folder, a device like /dev/zero that never ends) is refused
// before it is read: the standard library throws on reading a folder.
constexpr uintmax_t kMaxKeyFileSize = 1 << 20;

bool ReadKeyFile(const std::string& path, std::vector<uint8_t>* contents, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  std::string why;
  if (ec) {
    why = ec.message();
  } else if (fs::is_directory(status)) {
    why = "it is a folder";
  } else if (!fs::is_regular_file(status)) {
    why = "not a regular file";
  } else {
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
      why = ec.message();
    } else if (size > kMaxKeyFileSize) {
      why = "too large for a key file (" + std::to_string(size) + " bytes)";
    }
  }
  if (why.empty()) {
    try {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        why = "cannot open it";
      } else {
        contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) why = "read error";
      }
    } catch (const std::exception& e) {
      why = e.what();
    }
  }
  if (!why.empty()) {
    *error = "cannot read key file " + path + ": " + why;
    return false;
  }
  return true;
}

Integer BigEndian(const uint8_t* bytes, size_t n) { return Integer(bytes, n, Integer::UNSIGNED); }

// AlgorithmIdentifier of a DSA key with its parameters.
void EncodeAlgorithm(CryptoPP::BufferedTransformation& out, const sfx::DsaPublicKey& key) {
  CryptoPP::DERSequenceEncoder algorithm(out);
  DsaOid().DEREncode(algorithm);
  CryptoPP::DERSequenceEncoder params(algorithm);
  BigEndian(key.p, sizeof(key.p)).DEREncode(params);
  BigEndian(key.q, sizeof(key.q)).DEREncode(params);
  BigEndian(key.g, sizeof(key.g)).DEREncode(params);
  params.MessageEnd();
  algorithm.MessageEnd();
}

std::string Pem(const std::string& label, CryptoPP::ByteQueue& der) {
  std::vector<uint8_t> bytes(static_cast<size_t>(der.MaxRetrievable()));
  der.Get(bytes.data(), bytes.size());
  return "-----BEGIN " + label + "-----\n" + Base64Lines(bytes) + "-----END " + label + "-----\n";
}

}  // namespace

bool ParseDsaPublicKey(const std::vector<uint8_t>& contents, const std::string& name,
                       sfx::DsaPublicKey* key, std::string* error) {
  try {
    ToPublic(ParseKey(contents), key);
    return true;
  } catch (const KeyRefused& refused) {
    *error = name + ": " + refused.what;
  } catch (const std::exception& e) {
    *error = name + ": " + e.what();
  }
  return false;
}

bool ParseDsaPrivateKey(const std::vector<uint8_t>& contents, const std::string& name,
                        DsaPrivateKey* key, std::string* error, const std::string* passphrase) {
  try {
    const DsaNumbers n = ParseKey(contents, passphrase);
    if (!n.hasX) throw KeyRefused{"a public key; signing needs the private key"};
    ToPublic(n, &key->pub);
    n.x.Encode(key->x, sizeof(key->x));
    return true;
  } catch (const KeyRefused& refused) {
    *error = name + ": " + refused.what;
  } catch (const std::exception& e) {
    *error = name + ": " + e.what();
  }
  return false;
}

bool LoadDsaPublicKey(const std::string& path, sfx::DsaPublicKey* key, std::string* error) {
  std::vector<uint8_t> contents;
  return ReadKeyFile(path, &contents, error) && ParseDsaPublicKey(contents, path, key, error);
}

bool LoadDsaPrivateKey(const std::string& path, DsaPrivateKey* key, std::string* error,
                       const std::string* passphrase) {
  std::vector<uint8_t> contents;
  return ReadKeyFile(path, &contents, error) &&
         ParseDsaPrivateKey(contents, path, key, error, passphrase);
}

bool GenerateDsaKey(DsaPrivateKey* key, std::string* error) {
  try {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::DL_GroupParameters_DSA params;
    do {
      params.GenerateRandom(rng, CryptoPP::MakeParameters("ModulusSize", static_cast<int>(kPBits))(
                                     "SubgroupOrderSize", static_cast<int>(kQBits)));
    } while (params.GetModulus().BitCount() != kPBits || params.GetSubgroupOrder().BitCount() != kQBits);
    DsaNumbers n;
    n.p = params.GetModulus();
    n.q = params.GetSubgroupOrder();
    n.g = params.GetSubgroupGenerator();
    n.x = Integer(rng, Integer::One(), n.q - Integer::One());
    n.hasX = true;
    CheckNumbers(&n);
    ToPublic(n, &key->pub);
    n.x.Encode(key->x, sizeof(key->x));
    return true;
  } catch (const KeyRefused& refused) {
    *error = "key generation failed: " + refused.what;
  } catch (const std::exception& e) {
    *error = std::string("key generation failed: ") + e.what();
  }
  return false;
}

std::string PrivateKeyToPem(const DsaPrivateKey& key) {
  CryptoPP::ByteQueue der;
  {
    CryptoPP::DERSequenceEncoder info(der);
    Integer::Zero().DEREncode(info);  // version 0
    EncodeAlgorithm(info, key.pub);
    CryptoPP::DERGeneralEncoder octets(info, CryptoPP::OCTET_STRING);
    BigEndian(key.x, sizeof(key.x)).DEREncode(octets);
    octets.MessageEnd();
    info.MessageEnd();
  }
  return Pem("PRIVATE KEY", der);
}

std::string PublicKeyToPem(const sfx::DsaPublicKey& key) {
  CryptoPP::ByteQueue der;
  {
    CryptoPP::DERSequenceEncoder info(der);
    EncodeAlgorithm(info, key);
    CryptoPP::DERGeneralEncoder bits(info, CryptoPP::BIT_STRING);
    bits.Put(0);  // no unused bits
    BigEndian(key.y, sizeof(key.y)).DEREncode(bits);
    bits.MessageEnd();
    info.MessageEnd();
  }
  return Pem("PUBLIC KEY", der);
}

}  // namespace sfxpack
