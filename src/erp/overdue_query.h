#pragma once
/// The one statement that reads the ERP: every customer with at least one overdue open
/// receivable (status 'A', due before the server's current date, open amount above 0, with a
/// contract), one row per customer with the sum, count and oldest due date of those
/// receivables. The rows come back in the server's order, converted by position into ClientRow
/// and otherwise untouched: nothing is filtered, reordered or grouped here.
#include <string_view>
#include <vector>

#include "erp/client_row.h"
#include "erp/erp_connection.h"

namespace ixc {

/// The statement as sent, byte for byte: the same text an operator runs by hand to check a
/// run. Its blanks, its two tab-indented lines, the final semicolon and the closing line break
/// with four blanks are all part of it. It selects columns that are neither grouped nor
/// aggregated, so a server with ONLY_FULL_GROUP_BY refuses it (ErpError).
inline constexpr std::string_view OVERDUE_STATEMENT = R"sql(
    SELECT 
        cliente.id as idCliente,
        fn_areceber.id_contrato AS idContrato,
        cliente.razao as razaoSocial,
        cliente.cnpj_cpf as cpfCnpj,
        cliente.telefone_celular as contatoCliente,
        cliente.ativo as statusCliente,
        cliente.data_cadastro,
        SUM(fn_areceber.valor_aberto) as valorAtraso,
        COUNT(fn_areceber.valor) as titulosAtraso,
        MIN(fn_areceber.data_vencimento) as dataVencimento,
        filial.razao as filial,
        cidade.nome as cidade,
        cliente.bairro as bairro    
    FROM 
        cliente
    LEFT JOIN
        fn_areceber ON fn_areceber.id_cliente = cliente.id
    LEFT JOIN 
   		filial on fn_areceber.filial_id  = filial.id
    LEFT JOIN 
        cidade ON cliente.cidade = cidade.id
    WHERE
        fn_areceber.status = 'A' AND
        fn_areceber.data_vencimento < CURRENT_DATE() AND
        fn_areceber.valor_aberto > 0 AND
        fn_areceber.id_contrato IS NOT NULL
    GROUP BY
        cliente.id,
        cliente.razao,
        cliente.cnpj_cpf,
        cliente.telefone_celular
    ORDER BY 
    	fn_areceber.data_vencimento desc;
    )sql";

/// Runs OVERDUE_STATEMENT once on `conn` and returns all of its rows, fetched at once. Raises
/// ErpError for a failure of the server or the connection and RowConversionError for a value
/// that does not fit its field. Neither opens nor closes `conn`.
std::vector<ClientRow> obterDadosCliente(ErpConnection& conn);

}  // namespace ixc
