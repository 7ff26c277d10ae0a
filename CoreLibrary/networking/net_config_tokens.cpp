#include "net_config_tokens.h"

#include <cstdio>
#include <cstring>

int32_t strlen_tab(const char *text)
{
    int32_t length = 0;
    while (text[length] != '\0' && text[length] != '\t') length++;
    return length;
}

int32_t atol_tab(const char *text, bool *valid)
{
    // Other characters are skipped as they always were, but the sum saturates
    // instead of overflowing, and a '-' before the first digit counts, so "-1"
    // is not read as 1.
    int64_t value = 0;
    bool negative = false, digits = false;
    for (const char *p = text; *p != '\0' && *p != '\t'; p++)
    {
        if (*p == '-' && !digits) negative = true;
        if (*p < '0' || *p > '9') continue;
        digits = true;
        value = value * 10 + (*p - '0');
        if (value > (int64_t)INT32_MAX + 1) value = (int64_t)INT32_MAX + 1;
    }
    if (valid) *valid = digits;
    if (negative) return (int32_t)-value;
    return value > INT32_MAX ? INT32_MAX : (int32_t)value;
}

void hex_to_ascii(uint8_t byte, char out[2])
{
    static const char digits[] = "0123456789ABCDEF";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 15];
}

static int32_t hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ascii_to_hex(const char in[2], uint8_t *byte)
{
    const int32_t high = hex_digit(in[0]), low = hex_digit(in[1]);
    if (high < 0 || low < 0) return false;
    *byte = (uint8_t)(high * 16 + low);
    return true;
}

// The value of "key=" at the start of a token, or null.
static const char *find_token_value(const char *text, const char *key)
{
    const size_t key_length = strlen(key);
    const char *token = text;
    for (;;)
    {
        if (strncmp(token, key, key_length) == 0 && token[key_length] == '=')
            return token + key_length + 1;
        const char *tab = strchr(token, '\t');
        if (!tab) return nullptr;
        token = tab + 1;
    }
}

bool get_token(const char *text, const char *key, int32_t kind, void *out, int32_t *length)
{
    if (!text || !key || !out || !length || *key == '\0') return false;
    const char *value = find_token_value(text, key);
    if (!value) return false;
    const int32_t value_length = strlen_tab(value);
    switch (kind)
    {
    case _token_text:
        if (*length < value_length + 1) return false;
        memcpy(out, value, (size_t)value_length);
        ((char *)out)[value_length] = '\0';
        *length = value_length + 1;
        return true;
    case _token_number: {
        if (*length < 4) return false;
        bool valid = false;
        const int32_t number = atol_tab(value, &valid);
        if (!valid) return false;
        memcpy(out, &number, 4);
        *length = 4;
        return true;
    }
    case _token_boolean:
        if (*length < 1) return false;
        *(bool *)out = value[0] == 't';
        *length = 1;
        return true;
    case _token_hex:
        if ((value_length & 1) || *length < value_length / 2) return false;
        for (int32_t i = 0; i < value_length / 2; i++)
            if (!ascii_to_hex(value + 2 * i, (uint8_t *)out + i)) return false;
        *length = value_length / 2;
        return true;
    default:
        return false;
    }
}

bool put_token(char *buffer, int32_t maximum, const char *key, int32_t kind, const void *data,
               int32_t length)
{
    if (!buffer || !key || !data || maximum < 1 || *key == '\0') return false;
    char value[2 * MAXIMUM_HEX_TOKEN_BYTES + 1];
    const char *value_text = value;
    switch (kind)
    {
    case _token_text:
        value_text = (const char *)data;
        break;
    case _token_number: {
        int32_t number;
        memcpy(&number, data, 4);
        snprintf(value, sizeof(value), "%ld", (long)number);
        break;
    }
    case _token_boolean:
        strcpy(value, *(const bool *)data ? "true" : "false");
        break;
    case _token_hex:
        if (length < 0 || length > MAXIMUM_HEX_TOKEN_BYTES) return false;
        for (int32_t i = 0; i < length; i++) hex_to_ascii(((const uint8_t *)data)[i], value + 2 * i);
        value[2 * length] = '\0';
        break;
    default:
        return false;
    }
    const int64_t new_length = (int64_t)strlen(value_text);
    const int64_t buffer_length = (int64_t)strlen(buffer);
    const char *existing = find_token_value(buffer, key);
    if (existing)
    {
        const int64_t old_length = strlen_tab(existing);
        if (buffer_length - old_length + new_length + 1 > maximum) return false;
        char *at = buffer + (existing - buffer);
        memmove(at + new_length, at + old_length, (size_t)(buffer_length - (existing - buffer) - old_length + 1));
        memcpy(at, value_text, (size_t)new_length);
        return true;
    }
    const int64_t separator = buffer_length > 0 ? 1 : 0;
    const int64_t key_length = (int64_t)strlen(key);
    if (buffer_length + separator + key_length + 1 + new_length + 1 > maximum) return false;
    char *at = buffer + buffer_length;
    if (separator) *at++ = '\t';
    memcpy(at, key, (size_t)key_length);
    at += key_length;
    *at++ = '=';
    memcpy(at, value_text, (size_t)new_length);
    at[new_length] = '\0';
    return true;
}
