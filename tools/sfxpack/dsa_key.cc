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

#include "tools/sfxpack/files.h"

namespace sfxpack {

namespace {

using CryptoPP::Integer;

constexpr unsigned kPBits = 1024;
constexpr unsigned kQBits = 160;

// A key the file does not hold in a form we take.
Status Refused(const std::string& why) { return Status::Error(why); }

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
Status Unarmor(const std::vector<uint8_t>& contents, std::vector<uint8_t>* der, std::string* label) {
  const std::string text(contents.begin(), contents.end());
  const std::string begin = "-----BEGIN ";
  size_t at = text.find(begin);
  if (at == std::string::npos) {
    if (contents.empty() || contents[0] != 0x30) return Refused("not a PEM or DER key file");
    *der = contents;
    label->clear();
    return Status::Ok();
  }
  for (; at != std::string::npos; at = text.find(begin, at + 1)) {
    const size_t labelStart = at + begin.size();
    const size_t labelEnd = text.find("-----", labelStart);
    if (labelEnd == std::string::npos) break;
    *label = text.substr(labelStart, labelEnd - labelStart);
    if (*label == "DSA PARAMETERS") continue;
    const std::string end = "-----END " + *label + "-----";
    const size_t bodyEnd = text.find(end, labelEnd);
    if (bodyEnd == std::string::npos) return Refused("PEM block '" + *label + "' has no END line");
    std::string body = text.substr(labelEnd + 5, bodyEnd - labelEnd - 5);
    // PKCS#8 "ENCRYPTED PRIVATE KEY" is decrypted later; the traditional form's encryption
    // (OpenSSL's own key derivation, "Proc-Type: 4,ENCRYPTED") is not supported.
    if (*label != "ENCRYPTED PRIVATE KEY" && body.find("ENCRYPTED") != std::string::npos) {
      return Refused("traditional encrypted keys are not supported (convert it to PKCS#8 with "
                     "openssl pkcs8 -topk8 -v2 aes256)");
    }
    if (body.find(':') != std::string::npos) return Refused("unexpected PEM headers");
    if (!DecodeBase64(body, der)) return Refused("PEM block '" + *label + "' is not valid base64");
    return Status::Ok();
  }
  return Refused("no key found in the PEM file");
}

// --- DER -----------------------------------------------------------------------------------
// Crypto++'s decoders throw on malformed structures; the callers of these turn that into a
// refusal.

// AlgorithmIdentifier { id-dsa, Dss-Parms { p, q, g } }
Status DecodeAlgorithm(CryptoPP::BufferedTransformation& in, DsaNumbers* n) {
  CryptoPP::BERSequenceDecoder algorithm(in);
  CryptoPP::OID oid;
  oid.BERDecode(algorithm);
  if (!(oid == DsaOid())) return Refused("not a DSA key: it is " + OidText(oid));
  CryptoPP::BERSequenceDecoder params(algorithm);
  n->p.BERDecode(params);
  n->q.BERDecode(params);
  n->g.BERDecode(params);
  params.MessageEnd();
  algorithm.MessageEnd();
  return Status::Ok();
}

// PKCS#8 PrivateKeyInfo or the traditional OpenSSL DSA private key, after its version.
Status DecodePrivateKey(CryptoPP::BERSequenceDecoder& outer, DsaNumbers* n) {
  Integer version;
  version.BERDecode(outer);
  CryptoPP::byte tag = 0;
  if (!outer.Peek(tag)) return Refused("truncated private key");
  if (tag == (CryptoPP::SEQUENCE | CryptoPP::CONSTRUCTED)) {
    Status status = DecodeAlgorithm(outer, n);
    if (!status.ok()) return status;
    CryptoPP::BERGeneralDecoder octets(outer, CryptoPP::OCTET_STRING);
    n->x.BERDecode(octets);
    octets.MessageEnd();
    outer.SkipAll();  // optional attributes and public key
  } else {
    if (!version.IsZero()) return Refused("not a DSA private key");
    n->p.BERDecode(outer);
    n->q.BERDecode(outer);
    n->g.BERDecode(outer);
    n->y.BERDecode(outer);
    n->x.BERDecode(outer);
    n->hasY = true;
  }
  n->hasX = true;
  return Status::Ok();
}

// SubjectPublicKeyInfo, PKCS#8 PrivateKeyInfo or the traditional OpenSSL DSA private key.
Status DecodeDer(const std::vector<uint8_t>& der, DsaNumbers* n) {
  CryptoPP::ByteQueue queue;
  queue.Put(der.data(), der.size());
  CryptoPP::BERSequenceDecoder outer(queue);
  CryptoPP::byte tag = 0;
  if (!outer.Peek(tag)) return Refused("empty key structure");
  if (tag != (CryptoPP::SEQUENCE | CryptoPP::CONSTRUCTED)) {
    Status status = DecodePrivateKey(outer, n);
    if (!status.ok()) return status;
    outer.MessageEnd();
    return Status::Ok();
  }
  Status status = DecodeAlgorithm(outer, n);
  if (!status.ok()) return status;
  CryptoPP::BERGeneralDecoder bits(outer, CryptoPP::BIT_STRING);
  CryptoPP::byte unusedBits = 0;
  if (!bits.Get(unusedBits) || unusedBits != 0) return Refused("malformed public key bits");
  n->y.BERDecode(bits);
  bits.MessageEnd();
  n->hasY = true;
  outer.MessageEnd();
  return Status::Ok();
}

// Sizes first (the reason the author most needs), then the consistency of the numbers.
Status CheckNumbers(DsaNumbers* n) {
  if (n->p.IsNegative() || n->q.IsNegative() || n->p.BitCount() != kPBits ||
      n->q.BitCount() != kQBits) {
    return Refused("the key has a " + std::to_string(n->p.BitCount()) + "-bit p and a " +
                   std::to_string(n->q.BitCount()) +
                   "-bit q; packages need a DSA key with a 1024-bit p and a 160-bit q");
  }
  const Integer one = Integer::One();
  if (!CryptoPP::IsPrime(n->q) || !CryptoPP::IsPrime(n->p) || !((n->p - one) % n->q).IsZero() ||
      n->g <= one || n->g >= n->p || a_exp_b_mod_c(n->g, n->q, n->p) != one) {
    return Refused("the DSA domain parameters (p, q, g) are not valid");
  }
  if (n->hasX) {
    if (n->x <= Integer::Zero() || n->x >= n->q) return Refused("the private value x is out of range");
    const Integer y = a_exp_b_mod_c(n->g, n->x, n->p);
    if (n->hasY && n->y != y) return Refused("the public value y does not match the private key");
    n->y = y;
    n->hasY = true;
  }
  if (n->y <= one || n->y >= n->p || a_exp_b_mod_c(n->y, n->q, n->p) != one) {
    return Refused("the public value y is not valid");
  }
  return Status::Ok();
}

// How a PBES2 key is encrypted: the PBKDF2 salt, count and hash, the AES key length and IV.
struct Pbes2 {
  CryptoPP::SecByteBlock salt, iv, encrypted;
  CryptoPP::word32 iterations = 0;
  bool sha256 = false;
  size_t keyLength = 0;
};

const CryptoPP::OID& Pkcs5() {
  static const CryptoPP::OID oid = CryptoPP::OID(1) + 2 + 840 + 113549 + 1 + 5;
  return oid;
}

// PBKDF2-params { salt, iterationCount, keyLength OPTIONAL, prf OPTIONAL }.
Status DecodePbkdf2(CryptoPP::BERSequenceDecoder& params, Pbes2* out) {
  const CryptoPP::OID hmacSha1 = CryptoPP::OID(1) + 2 + 840 + 113549 + 2 + 7;
  const CryptoPP::OID hmacSha256 = CryptoPP::OID(1) + 2 + 840 + 113549 + 2 + 9;
  CryptoPP::BERSequenceDecoder kdf(params);
  CryptoPP::OID oid;
  oid.BERDecode(kdf);
  if (!(oid == Pkcs5() + 12)) return Refused("key derivation " + OidText(oid) + ", not PBKDF2");
  CryptoPP::BERSequenceDecoder kdfParams(kdf);
  CryptoPP::BERDecodeOctetString(kdfParams, out->salt);
  CryptoPP::BERDecodeUnsigned<CryptoPP::word32>(kdfParams, out->iterations, CryptoPP::INTEGER, 1,
                                                100000000);
  if (!kdfParams.EndReached() && kdfParams.PeekByte() == CryptoPP::INTEGER) {
    CryptoPP::word32 length = 0;
    CryptoPP::BERDecodeUnsigned<CryptoPP::word32>(kdfParams, length, CryptoPP::INTEGER, 1, 64);
  }
  if (!kdfParams.EndReached()) {
    CryptoPP::BERSequenceDecoder prf(kdfParams);
    oid.BERDecode(prf);
    if (oid == hmacSha256) {
      out->sha256 = true;
    } else if (!(oid == hmacSha1)) {
      return Refused("key derivation with " + OidText(oid) + " (HMAC-SHA-1 or -256 only)");
    }
    prf.SkipAll();
  }
  kdfParams.MessageEnd();
  kdf.MessageEnd();
  return Status::Ok();
}

// EncryptedPrivateKeyInfo { PBES2 { PBKDF2 ..., AES-CBC iv }, encrypted octets }.
Status DecodePbes2(const std::vector<uint8_t>& der, Pbes2* out) {
  const CryptoPP::OID aes = CryptoPP::OID(2) + 16 + 840 + 1 + 101 + 3 + 4 + 1;
  CryptoPP::StringSource source(der.data(), der.size(), true);
  CryptoPP::BERSequenceDecoder info(source);
  CryptoPP::BERSequenceDecoder algorithm(info);
  CryptoPP::OID oid;
  oid.BERDecode(algorithm);
  if (!(oid == Pkcs5() + 13)) return Refused("encrypted with " + OidText(oid) + ", not PBES2");
  CryptoPP::BERSequenceDecoder params(algorithm);
  Status status = DecodePbkdf2(params, out);
  if (!status.ok()) return status;
  CryptoPP::BERSequenceDecoder scheme(params);
  oid.BERDecode(scheme);
  if (oid == aes + 2) out->keyLength = 16;
  if (oid == aes + 22) out->keyLength = 24;
  if (oid == aes + 42) out->keyLength = 32;
  if (!out->keyLength) return Refused("encrypted with " + OidText(oid) + " (AES-CBC only)");
  CryptoPP::BERDecodeOctetString(scheme, out->iv);
  scheme.MessageEnd();
  params.MessageEnd();
  algorithm.MessageEnd();
  CryptoPP::BERDecodeOctetString(info, out->encrypted);
  info.MessageEnd();
  return Status::Ok();
}

// PBES2 (RFC 8018) as OpenSSL writes it: PBKDF2 with HMAC-SHA-1 or HMAC-SHA-256, then AES-128,
// -192 or -256 in CBC mode. Gives the PrivateKeyInfo inside an EncryptedPrivateKeyInfo.
Status DecryptPkcs8(const std::vector<uint8_t>& der, const std::string& passphrase,
                    std::vector<uint8_t>* plainKey) {
  Pbes2 scheme;
  try {
    Status status = DecodePbes2(der, &scheme);
    if (!status.ok()) return status;
  } catch (const CryptoPP::Exception&) {
    return Refused("not a valid encrypted PKCS#8 key");
  }
  if (scheme.iv.size() != CryptoPP::AES::BLOCKSIZE) return Refused("the encrypted key's IV is not 16 bytes");
  CryptoPP::SecByteBlock keyBytes(scheme.keyLength);
  const uint8_t* pass = reinterpret_cast<const uint8_t*>(passphrase.data());
  if (scheme.sha256) {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256>().DeriveKey(
        keyBytes, keyBytes.size(), 0, pass, passphrase.size(), scheme.salt, scheme.salt.size(),
        scheme.iterations);
  } else {
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA1>().DeriveKey(
        keyBytes, keyBytes.size(), 0, pass, passphrase.size(), scheme.salt, scheme.salt.size(),
        scheme.iterations);
  }
  std::string plain;
  try {
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption decryption(keyBytes, keyBytes.size(), scheme.iv);
    CryptoPP::StringSource(scheme.encrypted.data(), scheme.encrypted.size(), true,
                           new CryptoPP::StreamTransformationFilter(decryption, new CryptoPP::StringSink(plain)));
  } catch (const CryptoPP::Exception&) {
    return Refused("cannot decrypt the key: wrong passphrase?");
  }
  if (plain.empty() || static_cast<uint8_t>(plain[0]) != 0x30) {
    return Refused("cannot decrypt the key: wrong passphrase?");
  }
  plainKey->assign(plain.begin(), plain.end());
  return Status::Ok();
}

// The DER key of a file's contents, decrypted when it is an encrypted one.
Status UnarmorKey(const std::vector<uint8_t>& contents, const std::string* passphrase,
                  std::vector<uint8_t>* der) {
  std::string label;
  Status status = Unarmor(contents, der, &label);
  if (!status.ok()) return status;
  if (label == "ENCRYPTED PRIVATE KEY") {
    if (!passphrase) return Refused("an encrypted key: give its passphrase with --key-pass-file FILE");
    std::vector<uint8_t> encrypted = *der;
    return DecryptPkcs8(encrypted, *passphrase, der);
  }
  if (!label.empty() && label != "PUBLIC KEY" && label != "PRIVATE KEY" && label != "DSA PRIVATE KEY") {
    if (label.find("RSA") != std::string::npos || label.find("EC ") == 0) {
      return Refused("not a DSA key (PEM block '" + label + "')");
    }
    return Refused("unexpected PEM block '" + label + "'");
  }
  return Status::Ok();
}

Status DecodeKey(const std::vector<uint8_t>& contents, const std::string* passphrase, DsaNumbers* n) {
  std::vector<uint8_t> der;
  Status status = UnarmorKey(contents, passphrase, &der);
  if (!status.ok()) return status;
  try {
    status = DecodeDer(der, n);
  } catch (const CryptoPP::Exception&) {
    return Refused("not a valid DER key structure");
  }
  return status.ok() ? CheckNumbers(n) : status;
}

// Whatever else Crypto++ throws on a key it can't take is a refusal too.
Status ParseKey(const std::vector<uint8_t>& contents, const std::string* passphrase, DsaNumbers* n) {
  try {
    return DecodeKey(contents, passphrase, n);
  } catch (const CryptoPP::Exception& e) {
    return Refused(e.what());
  }
}

void ToPublic(const DsaNumbers& n, sfx::DsaPublicKey* key) {
  n.p.Encode(key->p, sizeof(key->p));
  n.q.Encode(key->q, sizeof(key->q));
  n.g.Encode(key->g, sizeof(key->g));
  n.y.Encode(key->y, sizeof(key->y));
}

// Key files are a few kilobytes; anything much larger is not a key (a package given by mistake),
// and anything but a regular file (a folder, a device like /dev/zero that never ends) is refused
// before it is read.
constexpr uint64_t kMaxKeyFileSize = 1 << 20;

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

Status ParseDsaPublicKey(const std::vector<uint8_t>& contents, const std::string& name,
                         sfx::DsaPublicKey* key) {
  DsaNumbers n;
  const Status status = ParseKey(contents, nullptr, &n);
  if (status.ok()) ToPublic(n, key);
  return status.Within(name + ": ");
}

Status ParseDsaPrivateKey(const std::vector<uint8_t>& contents, const std::string& name,
                          DsaPrivateKey* key, const std::string* passphrase) {
  DsaNumbers n;
  Status status = ParseKey(contents, passphrase, &n);
  if (status.ok() && !n.hasX) status = Refused("a public key; signing needs the private key");
  if (status.ok()) {
    ToPublic(n, &key->pub);
    n.x.Encode(key->x, sizeof(key->x));
  }
  return status.Within(name + ": ");
}

Status LoadDsaPublicKey(const std::string& path, sfx::DsaPublicKey* key) {
  std::vector<uint8_t> contents;
  const Status status = ReadWholeFile("key file", path, kMaxKeyFileSize, &contents);
  return status.ok() ? ParseDsaPublicKey(contents, path, key) : status;
}

Status LoadDsaPrivateKey(const std::string& path, DsaPrivateKey* key, const std::string* passphrase) {
  std::vector<uint8_t> contents;
  const Status status = ReadWholeFile("key file", path, kMaxKeyFileSize, &contents);
  return status.ok() ? ParseDsaPrivateKey(contents, path, key, passphrase) : status;
}

namespace {

// Crypto++ throws where it can't make the parameters.
Status GenerateDsaKeyOrThrow(DsaPrivateKey* key) {
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
  const Status status = CheckNumbers(&n);
  if (!status.ok()) return status.Within("key generation failed: ");
  ToPublic(n, &key->pub);
  n.x.Encode(key->x, sizeof(key->x));
  return Status::Ok();
}

}  // namespace

Status GenerateDsaKey(DsaPrivateKey* key) {
  try {
    return GenerateDsaKeyOrThrow(key);
  } catch (const CryptoPP::Exception& e) {
    return Status::Error(std::string("key generation failed: ") + e.what());
  }
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

std::vector<uint8_t> PublicKeyToDer(const sfx::DsaPublicKey& key) {
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
  std::vector<uint8_t> bytes(static_cast<size_t>(der.MaxRetrievable()));
  der.Get(bytes.data(), bytes.size());
  return bytes;
}

std::string PublicKeyToPem(const sfx::DsaPublicKey& key) {
  return "-----BEGIN PUBLIC KEY-----\n" + Base64Lines(PublicKeyToDer(key)) + "-----END PUBLIC KEY-----\n";
}

std::string KeyFingerprint(const sfx::DsaPublicKey& key) {
  const std::vector<uint8_t> der = PublicKeyToDer(key);
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256().CalculateDigest(digest, der.data(), der.size());
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace sfxpack
