// 'math': arithmetic and logic in 32.32 fixed point over parameters.

#include "math_action_proc.h"

#include <array>
#include <bit>
#include <cstring>

#include "action_proc_helpers.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "script_math.h"

static long_fixed integer_to_long_fixed(int32_t value) { return (long_fixed)((uint64_t)(int64_t)value << 32); }
static long_fixed fixed_to_long_fixed(int32_t value) { return (long_fixed)((uint64_t)(int64_t)value << 16); }
static int32_t long_fixed_integer_part(long_fixed value) { return (int32_t)asr64(value, 32); }
static int32_t long_fixed_to_fixed(long_fixed value) { return (int32_t)(uint32_t)(uint64_t)asr64(value, 16); }
static long double long_fixed_to_real(long_fixed value) { return (long double)value / 4294967296.0L; }
static long_fixed truth(bool value) { return value ? integer_to_long_fixed(1) : 0; }

// The type of the first parameter of that name on the action itself (any
// type, empty ones included), or NONE.
static int16_t own_parameter_type(int32_t action_index, field_tag name)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag, name,
                                  NONE))
        return NONE;
    return parameter.type;
}

// When the named parameter exists but holds no readable first value: the
// sum of the first value of every integer or fixed parameter of that name
// reachable from the action, empty ones counting 0.
static long_fixed sum_reachable_values(int32_t action_index, field_tag name)
{
    find_map_action_parameter_state state;
    new_find_map_action_parameter_state(&state, action_index, _return_empty_arrays_flag, name, NONE);
    map_action_parameter parameter;
    long_fixed sum = 0;
    while (find_next_map_action_parameter(&state, &parameter))
    {
        if (parameter.count < 1) continue;
        int32_t value;
        if (parameter.type != _parameter_integer && parameter.type != _parameter_fixed) continue;
        if (copy_map_action_parameter_values(&parameter, &value, 1) != 1) continue;
        sum = add64_wrap(sum, parameter.type == _parameter_fixed ? fixed_to_long_fixed(value) : integer_to_long_fixed(value));
    }
    return sum;
}

namespace {

enum math_operator
{
    _math_operator_add,
    _math_operator_subtract,
    _math_operator_multiply,
    _math_operator_divide,
    _math_operator_remainder,
    _math_operator_less,
    _math_operator_less_or_equal,
    _math_operator_greater,
    _math_operator_greater_or_equal,
    _math_operator_equal,
    _math_operator_not_equal,
    _math_operator_boolean_and,
    _math_operator_boolean_or,
    _math_operator_boolean_xor,
    NUMBER_OF_MATH_OPERATORS
};

struct math_operator_definition
{
    field_tag field_name;
    const char *format; // debug line: left, right, result as reals
};

constexpr math_operator_definition math_operators[NUMBER_OF_MATH_OPERATORS] = {
    {FOUR_CHARACTER_CODE('+', '_', '_', '_'), "%Lf + %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('-', '_', '_', '_'), "%Lf - %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('*', '_', '_', '_'), "%Lf * %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('d', 'i', 'v', '_'), "%Lf / %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('%', '_', '_', '_'), nullptr},
    {FOUR_CHARACTER_CODE('<', '_', '_', '_'), "%Lf < %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('<', '=', '_', '_'), "%Lf <= %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('>', '_', '_', '_'), "%Lf > %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('>', '=', '_', '_'), "%Lf >= %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('=', '=', '_', '_'), "%Lf == %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('!', '=', '_', '_'), "%Lf != %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('a', 'n', 'd', '_'), "%Lf && %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('o', 'r', '_', '_'), "%Lf || %Lf = %Lf"},
    {FOUR_CHARACTER_CODE('x', 'o', 'r', '_'), "%Lf (xor) %Lf = %Lf"},
};

// Everything the procedure reads of its own action, asked for at once.
enum math_request
{
    _left_integer,
    _left_fixed,
    _left_action,
    _left_field,
    _left_negative,
    _left_not,
    _right_integer,
    _right_fixed,
    _right_action,
    _right_field,
    _right_negative,
    _right_not,
    _first_operator,
    _output_not = _first_operator + NUMBER_OF_MATH_OPERATORS,
    _output_negative,
    _fixed_destination,
    _destination_action,
    _destination_field,
    _own_refx,
    _own_resu,
    NUMBER_OF_MATH_REQUESTS
};
static_assert((int32_t)NUMBER_OF_MATH_REQUESTS <= (int32_t)MAXIMUM_MAP_ACTION_PARAMETER_REQUESTS);

constexpr map_action_parameter_request flag_request(field_tag name)
{
    return {name, _parameter_flag, _return_empty_arrays_flag};
}

constexpr std::array<map_action_parameter_request, NUMBER_OF_MATH_REQUESTS> make_math_requests(void)
{
    std::array<map_action_parameter_request, NUMBER_OF_MATH_REQUESTS> requests{};
    requests[_left_integer] = {field('l', 'i', 'n', 't'), _parameter_integer, 0};
    requests[_left_fixed] = {field('l', 'f', 'i', 'x'), _parameter_fixed, 0};
    requests[_left_action] = {field('l', 'a', 'c', 't'), _parameter_action_identifier, 0};
    requests[_left_field] = {field('l', 'f', 'l', 'd'), _parameter_field_name, 0};
    requests[_left_negative] = flag_request(field('l', 'n', 'e', 'g'));
    requests[_left_not] = flag_request(field('l', 'n', 'o', 't'));
    requests[_right_integer] = {field('r', 'i', 'n', 't'), _parameter_integer, 0};
    requests[_right_fixed] = {field('r', 'f', 'i', 'x'), _parameter_fixed, 0};
    requests[_right_action] = {field('r', 'a', 'c', 't'), _parameter_action_identifier, 0};
    requests[_right_field] = {field('r', 'f', 'l', 'd'), _parameter_field_name, 0};
    requests[_right_negative] = flag_request(field('r', 'n', 'e', 'g'));
    requests[_right_not] = flag_request(field('r', 'n', 'o', 't'));
    for (int32_t i = 0; i < NUMBER_OF_MATH_OPERATORS; i++)
        requests[_first_operator + i] = flag_request(math_operators[i].field_name);
    requests[_output_not] = flag_request(field('o', 'n', 'o', 't'));
    requests[_output_negative] = flag_request(field('o', 'n', 'e', 'g'));
    requests[_fixed_destination] = flag_request(field('f', 'i', 'x', 'd'));
    requests[_destination_action] = {field('d', 'a', 'c', 't'), _parameter_action_identifier, 0};
    requests[_destination_field] = {field('d', 'f', 'l', 'd'), _parameter_field_name, 0};
    requests[_own_refx] = {field('r', 'e', 'f', 'x'), NONE, _dont_resolve_links_flag | _return_empty_arrays_flag};
    requests[_own_resu] = {field('r', 'e', 's', 'u'), NONE, _dont_resolve_links_flag | _return_empty_arrays_flag};
    return requests;
}
constexpr std::array<map_action_parameter_request, NUMBER_OF_MATH_REQUESTS> math_requests = make_math_requests();

// The procedure reads every answer about its own action before it stores
// anything, and nothing it calls until then edits an entry: the answers
// hold as resolved, so each read goes straight to them.
bool request_found(const resolved_map_action_parameters *own, int32_t request) { return (own->found >> request) & 1; }

int16_t resolved_type(const resolved_map_action_parameters *own, int32_t request)
{
    return request_found(own, request) ? own->handles[request].type : (int16_t)NONE;
}

// The first value of request `request` (T of the request type's size).
template <typename T>
bool first_request_value(const resolved_map_action_parameters *own, int32_t request, T *out)
{
    if (!request_found(own, request) || own->handles[request].count < 1 || own->offsets[request] == NONE) return false;
    memcpy(out, own->parameter_buffer + own->offsets[request] + MAP_ACTION_PARAMETER_HEADER_SIZE, sizeof(T));
    return true;
}

// The first entry of the name among the source's own entries (any type,
// empty ones too) and the address of its values, null when it has none.  A
// counter reads its own result: the answers resolved for the procedure's
// action already hold it.
const void *own_parameter_values(const resolved_map_action_parameters *own, int32_t source, field_tag name,
                                 map_action_parameter *found)
{
    if (source == own->action_index)
        for (const int32_t request : {(int32_t)_own_resu, (int32_t)_own_refx})
            if (math_requests[request].field_name == name)
            {
                if (!request_found(own, request)) return nullptr;
                // An entry whose place the answer lacks is looked up below.
                if (own->offsets[request] == NONE) break;
                *found = own->handles[request];
                return own->parameter_buffer + own->offsets[request] + MAP_ACTION_PARAMETER_HEADER_SIZE;
            }
    return find_own_map_action_parameter(found, source, name);
}

// The first operator flag the action has in the table's order, or NONE.
int32_t chosen_operator(const resolved_map_action_parameters *own)
{
    constexpr uint64_t operators = ((1ull << NUMBER_OF_MATH_OPERATORS) - 1) << _first_operator;
    const uint64_t present = own->found & operators;
    return present ? std::countr_zero(present) - (int32_t)_first_operator : (int32_t)NONE;
}

// One side's operand from the requests of that side (integer, fixed, action,
// field, negative, not in that order from `first`): the integer, the fixed
// value, or the named parameter of another action (first rule that
// applies), then 'not', then 'negative'.
long_fixed get_operand(const resolved_map_action_parameters *own, int32_t first)
{
    long_fixed operand = 0;
    int32_t value;
    int16_t source_identifier;
    int32_t source_field;
    if (first_request_value(own, first, &value))
        operand = integer_to_long_fixed(value);
    else if (first_request_value(own, first + 1, &value))
        operand = fixed_to_long_fixed(value);
    else if (first_request_value(own, first + 2, &source_identifier) && source_identifier != NONE &&
             first_request_value(own, first + 3, &source_field) && source_field != NONE)
    {
        const int32_t source = action_identifier_to_action_index(source_identifier);
        map_action_parameter found;
        const void *values = source == NONE ? nullptr : own_parameter_values(own, source, source_field, &found);
        if (values && found.count >= 1 && (found.type == _parameter_fixed || found.type == _parameter_integer))
        {
            // The first entry of the name holds a number: the first value
            // of that name and type (links followed) is this one, since
            // the action's own entries come first.
            memcpy(&value, values, sizeof(value));
            operand = found.type == _parameter_fixed ? fixed_to_long_fixed(value) : integer_to_long_fixed(value);
        }
        else if (values)
        {
            const int16_t type = found.type;
            if (type == _parameter_fixed &&
                get_indexed_long_integer_parameter(source, source_field, _parameter_fixed, &value, 0))
                operand = fixed_to_long_fixed(value);
            else if (type != _parameter_fixed &&
                     get_indexed_long_integer_parameter(source, source_field, _parameter_integer, &value, 0))
                operand = integer_to_long_fixed(value);
            else
                operand = sum_reachable_values(source, source_field);
        }
    }
    if (request_found(own, first + 5)) operand = operand == 0 ? integer_to_long_fixed(1) : 0;
    if (request_found(own, first + 4)) operand = neg64_wrap(operand);
    return operand;
}

// Stores one value as fixed or as integer with set_unique_map_action_parameter.
void store_result(int32_t action_index, field_tag name, bool as_fixed, long_fixed result)
{
    const int32_t value = as_fixed ? long_fixed_to_fixed(result) : long_fixed_integer_part(result);
    set_unique_map_action_parameter(action_index, name, as_fixed ? _parameter_fixed : _parameter_integer, 1, &value);
}

} // namespace

uint32_t math_action_proc(int32_t action_index)
{
    static const map_action_parameter_request_set requests = [] {
        map_action_parameter_request_set set;
        prepare_map_action_parameter_requests(&set, math_requests.data(), NUMBER_OF_MATH_REQUESTS);
        return set;
    }();
    resolved_map_action_parameters own;
    resolve_map_action_parameters(&own, action_index, &requests);
    const long_fixed left = get_operand(&own, _left_integer);
    const long_fixed right = get_operand(&own, _right_integer);
    const int32_t chosen = chosen_operator(&own);
    long_fixed result = left;
    switch (chosen)
    {
    case _math_operator_add: result = add64_wrap(left, right); break;
    case _math_operator_subtract: result = sub64_wrap(left, right); break;
    case _math_operator_multiply: result = mul_32_32_fixed(left, right); break;
    case _math_operator_divide:
        if (right == 0)
        {
            map_action_debug(action_index, "%Lf / %Lf = failed (divide by zero)!", long_fixed_to_real(left),
                             long_fixed_to_real(right));
            return 0;
        }
        result = integer_to_long_fixed((int32_t)(uint32_t)(uint64_t)div64_guarded(left, right));
        break;
    case _math_operator_remainder:
    {
        const int32_t dividend = long_fixed_integer_part(left), divisor = long_fixed_integer_part(right);
        if (divisor == 0)
        {
            map_action_debug(action_index, "%ld %% %ld = failed (modulo by zero)!", (long)dividend, (long)divisor);
            return 0;
        }
        result = integer_to_long_fixed(rem32_guarded(dividend, divisor));
        if (map_action_debug_enabled(action_index))
            map_action_debug(action_index, "%ld %% %ld = %Lf", (long)dividend, (long)divisor, long_fixed_to_real(result));
        break;
    }
    case _math_operator_less: result = truth(left < right); break;
    case _math_operator_less_or_equal: result = truth(left <= right); break;
    case _math_operator_greater: result = truth(left > right); break;
    case _math_operator_greater_or_equal: result = truth(left >= right); break;
    case _math_operator_equal: result = truth(left == right); break;
    case _math_operator_not_equal: result = truth(left != right); break;
    case _math_operator_boolean_and: result = truth(left != 0 && right != 0); break;
    case _math_operator_boolean_or: result = truth(left != 0 || right != 0); break;
    case _math_operator_boolean_xor: result = truth((left != 0) != (right != 0)); break;
    default: break;
    }
    // The lines are written only when traced: most runs convert nothing to reals.
    if (map_action_debug_enabled(action_index))
    {
        if (chosen == NONE)
            map_action_debug(action_index, "%Lf = %Lf (no operand, left-value passed through)",
                             long_fixed_to_real(left), long_fixed_to_real(result));
        else if (math_operators[chosen].format)
            map_action_debug(action_index, math_operators[chosen].format, long_fixed_to_real(left),
                             long_fixed_to_real(right), long_fixed_to_real(result));
    }
    if (request_found(&own, _output_not))
    {
        const long_fixed before = result;
        result = truth(result == 0);
        if (map_action_debug_enabled(action_index))
            map_action_debug(action_index, "!%Lf = %Lf", long_fixed_to_real(before), long_fixed_to_real(result));
    }
    if (request_found(&own, _output_negative))
    {
        const long_fixed before = result;
        result = neg64_wrap(result);
        if (map_action_debug_enabled(action_index))
            map_action_debug(action_index, "-%Lf = %Lf", long_fixed_to_real(before), long_fixed_to_real(result));
    }
    // Read before the results are stored: storing 'refx' and 'resu' changes
    // no other entry, so these answers are the ones reading after would give.
    const int16_t refx_type = resolved_type(&own, _own_refx), resu_type = resolved_type(&own, _own_resu);
    int16_t destination_identifier;
    int32_t destination_field;
    const bool has_destination = first_request_value(&own, _destination_action, &destination_identifier) &&
                                 destination_identifier != NONE &&
                                 first_request_value(&own, _destination_field, &destination_field) && destination_field != NONE;
    const bool fixed_destination = request_found(&own, _fixed_destination);
    // Both results in one edit of the action, as storing one after the other leaves them.
    const bool refx_fixed = refx_type == NONE || refx_type == _parameter_fixed, resu_fixed = resu_type == _parameter_fixed;
    const int32_t refx_value = refx_fixed ? long_fixed_to_fixed(result) : long_fixed_integer_part(result);
    const int32_t resu_value = resu_fixed ? long_fixed_to_fixed(result) : long_fixed_integer_part(result);
    const int16_t refx_stored = refx_fixed ? _parameter_fixed : _parameter_integer;
    const int16_t resu_stored = resu_fixed ? _parameter_fixed : _parameter_integer;
    const map_action_parameter_value results[] = {{field('r', 'e', 'f', 'x'), refx_stored, 1, &refx_value},
                                                  {field('r', 'e', 's', 'u'), resu_stored, 1, &resu_value}};
    set_unique_map_action_parameters(action_index, results, 2);
    if (has_destination)
    {
        const int32_t destination = action_identifier_to_action_index(destination_identifier);
        if (destination != NONE)
        {
            // The destination may be this action: its type is read after the stores.
            const int16_t type = own_parameter_type(destination, destination_field);
            const bool as_fixed = type == NONE ? fixed_destination : type == _parameter_fixed;
            store_result(destination, destination_field, as_fixed, result);
        }
    }
    return result != 0 ? _map_action_proc_succeeded_flag : 0;
}
